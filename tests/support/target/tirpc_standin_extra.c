/* TEST-ONLY, NEVER SHIPPED: part of the stand-in libtirpc.so.3 that the
 * target test run (scripts/target-test.sh) builds for powerpc-linux-gnu.
 *
 * The stand-in forwards libtirpc's function names to the Sun RPC that the
 * powerpc glibc still carries as compatibility symbols (see
 * tirpc_standin.sh). This file adds the data symbol that is not a function:
 *
 *   _null_auth      the null verifier (all zero).
 */
struct opaque_auth_standin { int flavor; void *base; unsigned length; };
struct opaque_auth_standin _null_auth;
