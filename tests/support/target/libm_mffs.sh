#!/usr/bin/env bash
# TEST-ONLY. Writes a copy of the powerpc glibc's libm with every mffscrn /
# mffscrni instruction rewritten to mffs:
#   libm_mffs.sh OUTPUT
#
# glibc's libm switches the rounding mode with mffscrn(i), a POWER9
# instruction that older processors execute as a plain mffs (glibc handles
# both results). qemu 7.2 decodes it only for ISA 3.0 CPU models, none of them
# 32-bit, so sin() in velkd-sim dies of SIGILL under qemu-ppc. The copy does
# what this target's pre-POWER9 hardware does anyway; the emulator's library
# path puts it first. Nothing else in glibc or libstdc++ uses them.
set -euo pipefail
export LC_ALL=C
output=$1
triple=powerpc-linux-gnu
libm=/usr/$triple/lib/libm.so.6

# Addresses of the instructions in .text, and where .text sits in the file.
read -r text_addr text_offset < <($triple-objdump -h "$libm" | awk '$2 == ".text" { print $4, $6 }')
$triple-objdump -d -j .text "$libm" | awk '$0 ~ /\tmffscrni? / { sub(/:$/, "", $1); print $1 }' >"$output.addresses"
count=$(wc -l <"$output.addresses")
cp "$libm" "$output.tmp"
# mffs FRT is 0xfc00048e | FRT << 21; mffscrn(i) sets the field in bits
# 11-20 (its selector and FRB or RM), which mffs leaves zero.
perl -e '
  my ($file, $text_addr, $text_offset, $list) = @ARGV;
  open(my $f, "+<:raw", $file) or die "$file: $!";
  open(my $l, "<", $list) or die "$list: $!";
  while (my $address = <$l>) {
    chomp $address;
    my $at = hex($address) - hex($text_addr) + hex($text_offset);
    seek($f, $at, 0); read($f, my $bytes, 4) == 4 or die "short read";
    my $word = unpack("N", $bytes);
    die sprintf("not mffscrn(i) at %s: %08x", $address, $word) unless ($word & 0xfc0007fe) == 0xfc00048e;
    seek($f, $at, 0); print $f pack("N", $word & ~0x001ff800);
  }' "$output.tmp" "$text_addr" "$text_offset" "$output.addresses"
rm -f "$output.addresses"
if $triple-objdump -d -j .text "$output.tmp" | grep -qP '\tmffscrni? '; then
  echo "libm_mffs: instructions left after rewriting" >&2
  exit 1
fi
mv "$output.tmp" "$output"
echo "libm.so.6 for qemu: $count mffscrn(i) rewritten to mffs"
