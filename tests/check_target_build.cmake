# Compiles every library source for 32-bit big-endian PowerPC, warnings as
# errors; the layout assertions for 4-byte pointers then take effect.
foreach(source IN LISTS SOURCES)
  execute_process(
    COMMAND ${CXX} -std=c++20 -Wall -Wextra -Werror -fsyntax-only
            -I${ROOT}/include -I${ROOT}/src -I${ROOT}/protocol -I${GENERATED} -idirafter /usr/include/tirpc ${source}
    RESULT_VARIABLE rc ERROR_VARIABLE errors)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${source} does not build for the target:\n${errors}")
  endif()
endforeach()
list(LENGTH SOURCES n)
message(STATUS "${n} sources build for ppc32 big-endian")
