#!/usr/bin/env bash
# Times unpack against GNU tar and cpio on three datasets, into an empty
# destination and over an existing copy of every file, and pack --verify
# against cmp and diff on each install; prints Markdown tables. Usage:
# bench/run.sh [RUNS] (default 5), from the project's root, after
# `cmake --workflow --preset release`.
#
# Environment: BENCH_DIR (default /tmp/unpack-bench) holds the datasets, the
# archives and the destinations; DATASETS (default "small mixed big"); PARTS
# (default "install verify") the parts to run, among them also "busy" (each
# replacement timed on a quiet volume and just after another program wrote
# BUSY_MIB, default 1024, MiB it has not flushed; datasets BUSY_SETS,
# default "one g64 small mixed") and "counts" (new files and replacements at
# COUNTS, default "n10k n100k n1m", one run each). BASELINE, the absolute
# path of another unpack (an earlier build), times it beside this one. TOOLS,
# when set, the tools the install part times (among unpack, baseline,
# unpack-pipe, unpack+syncfs, tar, tar-pipe, tar+sync, cpio, cat-pkg,
# cat-big); tar, the reference, always is, and tar-pipe with unpack-pipe.
#
# What the hardening flags (cmake/Hardening.cmake) cost: a release built
# without them beside the usual one, then the two timed run by run; the
# baseline row's "vs unpack from a file" is the hardened time over the other:
#   cmake -S . -B build/release-plain -G Ninja -DCMAKE_BUILD_TYPE=Release \
#         -DBUILD_TESTING=OFF -DHARDENING=OFF && cmake --build build/release-plain
#   BASELINE=$PWD/build/release-plain/unpack PARTS=install \
#     TOOLS="unpack baseline" bench/run.sh 3
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=${BENCH_DIR:-/tmp/unpack-bench}
datasets=${DATASETS:-small mixed big}
parts=${PARTS:-install verify}
unpack=$PWD/build/release/unpack
pack=$PWD/build/release/pack
[ -x "$unpack" ] && [ -x "$pack" ] || { echo "build first: cmake --workflow --preset release" >&2; exit 1; }
command -v cpio >/dev/null || { apt-get update -q && apt-get install -y -q cpio; }
[ -x /usr/bin/time ] && command -v bc >/dev/null || { apt-get update -q && apt-get install -y -q time bc; }
mkdir -p "$work"

busy_sets=${BUSY_SETS:-one g64 small mixed}
busy_mib=${BUSY_MIB:-1024}
counts=${COUNTS:-n10k n100k n1m}
all_sets=$datasets
case " $parts " in *" busy "*) all_sets="$all_sets $busy_sets" ;; esac
case " $parts " in *" counts "*) all_sets="$all_sets $counts" ;; esac

# Datasets and archives, made once.
for d in $(echo $all_sets | tr ' ' '\n' | awk '!seen[$0]++'); do
  if [ ! -d "$work/src/$d" ]; then
    echo "making dataset $d" >&2
    python3 bench/make_datasets.py "$work/src" "$d"
  fi
  if [ ! -f "$work/$d.pkg" ]; then
    (cd "$work/src/$d" && ls | sort > "$work/$d.list")
    "$pack" -C "$work/src/$d" -o "$work/$d.pkg" $(cat "$work/$d.list")
    tar -cf "$work/$d.tar" -C "$work/src/$d" $(cat "$work/$d.list")
    case " $datasets " in *" $d "*)
      (cd "$work/src/$d" && find $(cat "$work/$d.list") -type f | sort | cpio -o -H newc --quiet > "$work/$d.cpio") ;;
    esac
  fi
done

dest=$work/dest

# Prepares the destination alike for every tool: the folder skeleton, and in
# replace mode a copy of every file; then the archive is read once so that it
# comes from the page cache for every tool.
prepare() {  # dataset mode archive
  rm -rf "$dest"
  mkdir -p "$dest"
  (cd "$work/src/$1" && find . -mindepth 1 -type d) | (cd "$dest" && xargs -r mkdir -p)
  if [ "$2" = replace ]; then tar -xf "$work/$1.tar" -C "$dest"; fi
  rm -f "$work/busy.bin"
  sync
  cat "$3" > /dev/null
  # Another program's data, written and not flushed, on the same volume.
  if [ "${4:-}" = busy ]; then head -c "${busy_mib}M" /dev/zero > "$work/busy.bin"; fi
}

# Runs one command, prints "seconds peak_rss_kib".
measure() {  # command...
  local t0 t1 rss
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/rss" sh -c "$1" > /dev/null 2> "$work/stderr"
  t1=$(date +%s.%N)
  rss=$(tail -n 1 "$work/rss")
  echo "$(echo "$t1 - $t0" | bc -l) $rss"
}

command_for() {  # tool dataset mode
  local a=$work/$2
  case $1 in
    unpack) echo "cd '$dest' && exec '$unpack' -destdir '$dest/' < '$a.pkg'" ;;
    baseline) echo "cd '$dest' && exec '$BASELINE' -destdir '$dest/' < '$a.pkg'" ;;
    unpack-pipe) echo "cd '$dest' && cat '$a.pkg' | '$unpack' -destdir '$dest/'" ;;
    unpack+syncfs) echo "cd '$dest' && '$unpack' -destdir '$dest/' < '$a.pkg' && exec sync -f '$dest'" ;;
    tar) echo "exec tar -xf - -C '$dest' < '$a.tar'" ;;
    tar-pipe) echo "cat '$a.tar' | tar -xf - -C '$dest'" ;;
    tar+sync) echo "tar -xf - -C '$dest' < '$a.tar' && exec sync" ;;
    cpio) if [ "$3" = replace ]; then u=u; else u=; fi
      echo "cd '$dest' && exec cpio -idm$u --quiet < '$a.cpio'" ;;
    cat-pkg) echo "exec cat '$a.pkg'" ;;
    cat-big) echo "exec cat '$work/src/big/big.bin' > '$dest/big.bin'" ;;
  esac
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

results=$work/results
: > "$results"
rm -f "$work/faults"
for d in $datasets; do
  case " $parts " in *" install "*) ;; *) continue ;; esac
  files=$(wc -l < <(cd "$work/src/$d" && find . -type f))
  bytes=$(du -sb --apparent-size "$work/src/$d" | cut -f1)
  tools="unpack ${BASELINE:+baseline} unpack-pipe unpack+syncfs tar tar-pipe tar+sync cpio cat-pkg"
  [ "$d" = big ] && tools="$tools cat-big"
  if [ -n "${TOOLS:-}" ]; then
    tools=$(for t in $tools; do
      case " $TOOLS :$t" in *" $t "* | *:tar | *" unpack-pipe "*:tar-pipe) echo "$t" ;; esac
    done)
  fi
  for mode in new replace; do
    for ((i = 1; i <= runs; i++)); do
      for tool in $tools; do
        case $tool in cat-* | unpack+syncfs) [ "$mode" = replace ] && continue ;; esac
        archive=$work/$d.pkg
        case $tool in tar*) archive=$work/$d.tar ;; cpio) archive=$work/$d.cpio ;; esac
        prepare "$d" "$mode" "$archive"
        read -r secs rss < <(measure "$(command_for "$tool" "$d" "$mode")")
        if [ "${tool:0:6}" = unpack ] || [ "$tool" = baseline ] && ! tail -n 1 "$work/stderr" | grep -q '^OK'; then
          echo "unpack failed on $d/$mode: $(tail -n 2 "$work/stderr")" >&2
          exit 1
        fi
        echo "$d $mode $tool $i $secs $rss $files $bytes" >> "$results"
      done
    done
  done
  # Where unpack's replacement spends its time: the wall time in the flushes
  # and the system calls per file, from one traced run.
  prepare "$d" replace "$work/$d.pkg"
  (cd "$dest" && strace -f -c -w -o "$work/strace" "$unpack" -destdir "$dest/" < "$work/$d.pkg" 2> /dev/null)
  fsync_secs=$(awk '$NF == "fsync" || $NF == "syncfs" {s += $2} END {print s + 0}' "$work/strace")
  calls=$(awk '$NF == "total" {print $(NF-2)}' "$work/strace")
  echo "$d replace fsync 1 ${fsync_secs:-0} 0 $files $bytes $calls" >> "$results"
done

# A busy volume: each replacement timed on a quiet volume, then just after
# another program wrote data it has not flushed; unpack's flushes should wait
# for its own files, not for that data.
busied=$work/busy
: > "$busied"
case " $parts " in *" busy "*) for d in $busy_sets; do
  for ((i = 1; i <= runs; i++)); do
    for tool in unpack ${BASELINE:+baseline} tar tar+sync; do
      archive=$work/$d.pkg
      case $tool in tar*) archive=$work/$d.tar ;; esac
      for state in quiet busy; do
        prepare "$d" replace "$archive" "$state"
        read -r secs rss < <(measure "$(command_for "$tool" "$d" replace)")
        echo "$d $tool $state $i $secs $rss" >> "$busied"
      done
    done
  done
  rm -f "$work/busy.bin"
done ;; esac

# The count axis: files of 0-1 KiB in folders of 1,000, one run each.
counted=$work/counts
: > "$counted"
case " $parts " in *" counts "*) for d in $counts; do
  files=$(wc -l < <(cd "$work/src/$d" && find . -type f))
  for mode in new replace; do
    for tool in unpack tar tar+sync; do
      archive=$work/$d.pkg
      case $tool in tar*) archive=$work/$d.tar ;; esac
      prepare "$d" "$mode" "$archive"
      sync; echo 3 > /proc/sys/vm/drop_caches 2> /dev/null || true
      read -r secs rss < <(measure "$(command_for "$tool" "$d" "$mode")")
      if [ "$tool" = unpack ] && ! tail -n 1 "$work/stderr" | grep -q '^OK'; then
        echo "unpack failed on $d/$mode: $(tail -n 2 "$work/stderr")" >&2
        exit 1
      fi
      echo "$d $mode $tool $secs $rss $files" >> "$counted"
    done
  done
done ;; esac

# pack --verify after an install, against the tools a user without it would
# take: cmp on the two files of the one-file dataset, diff -rq on the trees.
# Then the faults an install can suffer: one byte flipped, a file cut short,
# one deleted, a staged copy left beside a file; each must have its own line,
# and the status must be 1.
verified=$work/verified
: > "$verified"
for d in $datasets; do
  case " $parts " in *" verify "*) ;; *) continue ;; esac
  prepare "$d" new "$work/$d.pkg"
  (cd "$dest" && "$unpack" -destdir "$dest/" < "$work/$d.pkg" 2> /dev/null)
  bytes=$(du -sb --apparent-size "$work/src/$d" | cut -f1)
  tools="pack-verify diff"
  [ "$d" = big ] && tools="$tools cmp"
  for ((i = 1; i <= runs; i++)); do
    for tool in $tools; do
      case $tool in
        pack-verify) command="exec '$pack' --verify '$dest/' '$work/$d.pkg'" ;;
        diff) command="exec diff -rq '$work/src/$d' '$dest'" ;;
        cmp) command="exec cmp '$work/src/big/big.bin' '$dest/big.bin'" ;;
      esac
      cat "$work/$d.pkg" > /dev/null && find "$dest" -type f -exec cat {} + > /dev/null
      read -r secs rss < <(measure "$command")
      echo "$d $tool $i $secs $rss $bytes" >> "$verified"
    done
  done
  files=$(cd "$dest" && find . -type f | sort | head -n 4)
  [ "$(echo "$files" | wc -l)" -eq 4 ] || continue
  set -- $files
  printf '\377' | dd of="$dest/$1" bs=1 seek=10 conv=notrunc status=none
  truncate -s -1 "$dest/$2"
  rm "$dest/$3"
  # A stopped run's staged copy holds the beginning of the entry's bytes.
  head -c 100 "$dest/$4" > "$dest/${4}TMP"
  status=0
  "$pack" --verify "$dest/" "$work/$d.pkg" > "$work/verify.out" || status=$?
  found=$(grep -c -e '^differs ' -e '^missing ' -e '^left over ' "$work/verify.out")
  if [ "$status" != 1 ] || [ "$found" != 4 ]; then
    echo "pack --verify missed a fault on $d (status $status, $found lines):" >&2
    grep -v '^same ' "$work/verify.out" >&2
    exit 1
  fi
  echo "$d: a flipped byte, a cut file, a deleted file and a staged copy left: 4 lines, status 1" >> "$work/faults"
done

# What a power cut during the run can leave of a file being replaced.
guarantee() {
  case $1 in
    unpack* | baseline) echo "old or new content" ;;
    tar+sync) echo "may be empty (until sync returns)" ;;
    tar* | cpio) echo "may be empty" ;;
    *) echo "" ;;
  esac
}

# The median, run by run, of tool b's time over tool a's (a's speed as a
# multiple of b's).
speedup() {  # dataset mode a b
  join <(awk -v d=$1 -v m=$2 -v t=$4 '$1==d && $2==m && $3==t {print $4, $5}' "$results" | sort) \
       <(awk -v d=$1 -v m=$2 -v t=$3 '$1==d && $2==m && $3==t {print $4, $5}' "$results" | sort) |
    awk '{print $2 / $3}' | median
}

# The table: medians over the runs; the ratio to tar is taken run by run
# (tar's time over the tool's, same run), then its median: tar from a file
# for the tools that read a file, tar from the same pipe for unpack from a
# pipe, which is also compared with itself from a file.
if [ -s "$results" ]; then
echo "| dataset | mode | tool | wall s | files/s | MB/s | peak RSS MiB | speed vs tar | vs unpack from a file | a replaced file after a power cut |"
echo "|---|---|---|---:|---:|---:|---:|---:|---:|---|"
for d in $datasets; do
  for mode in new replace; do
    for tool in unpack baseline unpack-pipe unpack+syncfs tar tar-pipe tar+sync cpio cat-pkg cat-big; do
      grep -q "^$d $mode $tool " "$results" || continue
      secs=$(awk -v d=$d -v m=$mode -v t=$tool '$1==d && $2==m && $3==t {print $5}' "$results" | median)
      rss=$(awk -v d=$d -v m=$mode -v t=$tool '$1==d && $2==m && $3==t {print $6}' "$results" | median)
      files=$(awk -v d=$d '$1==d {print $7; exit}' "$results")
      bytes=$(awk -v d=$d '$1==d {print $8; exit}' "$results")
      reference=tar
      [ "$tool" = unpack-pipe ] && reference=tar-pipe
      ratio=$(speedup "$d" "$mode" "$tool" "$reference")
      self="-"
      case $tool in baseline | unpack-pipe | unpack+syncfs) self=$(printf "%.2fx" "$(speedup "$d" "$mode" "$tool" unpack)") ;; esac
      promise=""
      [ "$mode" = replace ] && promise=$(guarantee "$tool")
      printf "| %s | %s | %s | %.3f | %.0f | %.1f | %.1f | %.2fx | %s | %s |\n" "$d" "$mode" "$tool" "$secs" \
        "$(echo "$files / $secs" | bc -l)" "$(echo "$bytes / 1000000 / $secs" | bc -l)" \
        "$(echo "$rss / 1024" | bc -l)" "$ratio" "$self" "$promise"
    done
  done
done
echo
echo "The power-cut column for unpack is what the power-cut model (tests/power_cut_test.cpp) proves; new files, of every tool, may be empty after a power cut unless the run is followed by a flush (unpack+syncfs, tar+sync)."
echo
echo "Traced replacement runs of unpack (strace -f -c -w): wall time in fsync and syncfs, system calls per file."
echo
for d in $datasets; do
  awk -v d=$d '$1==d && $3=="fsync" {printf "- %s: %.3f s flushing, %.1f calls per file\n", d, $5, $9 / $7}' "$results"
done
fi

# The busy-volume table: medians over the runs, and each tool's busy time
# over its quiet time, run by run.
if [ -s "$busied" ]; then
echo
echo "| dataset (replacing) | tool | quiet s | with ${busy_mib} MiB of another program's unwritten data s | busy / quiet | peak RSS MiB |"
echo "|---|---|---:|---:|---:|---:|"
for d in $busy_sets; do
  for tool in unpack baseline tar tar+sync; do
    grep -q "^$d $tool " "$busied" || continue
    q=$(awk -v d=$d -v t=$tool '$1==d && $2==t && $3=="quiet" {print $5}' "$busied" | median)
    b=$(awk -v d=$d -v t=$tool '$1==d && $2==t && $3=="busy" {print $5}' "$busied" | median)
    r=$(join <(awk -v d=$d -v t=$tool '$1==d && $2==t && $3=="busy" {print $4, $5}' "$busied" | sort) \
             <(awk -v d=$d -v t=$tool '$1==d && $2==t && $3=="quiet" {print $4, $5}' "$busied" | sort) |
        awk '{print $2 / $3}' | median)
    rss=$(awk -v d=$d -v t=$tool '$1==d && $2==t {print $6}' "$busied" | sort -g | tail -n 1)
    printf "| %s | %s | %.3f | %.3f | %.2fx | %.1f |\n" "$d" "$tool" "$q" "$b" "$r" "$(echo "$rss / 1024" | bc -l)"
  done
done
fi

# The count table: one run each, time per file, and the ratio of tar's time
# (and tar followed by sync) to unpack's.
if [ -s "$counted" ]; then
echo
echo "| files | mode | unpack s | per file us | peak RSS MiB | tar s | tar+sync s | speed vs tar | vs tar+sync |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for d in $counts; do
  for mode in new replace; do
    read -r u rss n < <(awk -v d=$d -v m=$mode '$1==d && $2==m && $3=="unpack" {print $4, $5, $6}' "$counted")
    t=$(awk -v d=$d -v m=$mode '$1==d && $2==m && $3=="tar" {print $4}' "$counted")
    ts=$(awk -v d=$d -v m=$mode '$1==d && $2==m && $3=="tar+sync" {print $4}' "$counted")
    [ -n "$u" ] || continue
    printf "| %d | %s | %.3f | %.0f | %.1f | %.3f | %.3f | %.2fx | %.2fx |\n" "$n" "$mode" "$u" \
      "$(echo "$u * 1000000 / $n" | bc -l)" "$(echo "$rss / 1024" | bc -l)" "$t" "$ts" \
      "$(echo "$t / $u" | bc -l)" "$(echo "$ts / $u" | bc -l)"
  done
done
fi

# The verify table: medians over the runs; the speed of pack --verify as a
# ratio to each other tool, run by run (the tool's time over pack's).
[ -s "$verified" ] || exit 0
echo
echo "| dataset | tool | wall s | MB/s | peak RSS MiB | pack --verify's speed vs this tool |"
echo "|---|---|---:|---:|---:|---:|"
for d in $datasets; do
  for tool in pack-verify cmp diff; do
    grep -q "^$d $tool " "$verified" || continue
    secs=$(awk -v d=$d -v t=$tool '$1==d && $2==t {print $4}' "$verified" | median)
    rss=$(awk -v d=$d -v t=$tool '$1==d && $2==t {print $5}' "$verified" | median)
    bytes=$(awk -v d=$d '$1==d {print $6; exit}' "$verified")
    ratio=$(join <(awk -v d=$d -v t=$tool '$1==d && $2==t {print $3, $4}' "$verified" | sort) \
                  <(awk -v d=$d '$1==d && $2=="pack-verify" {print $3, $4}' "$verified" | sort) |
            awk '{print $2 / $3}' | median)
    printf "| %s | %s | %.3f | %.1f | %.1f | %.2fx |\n" "$d" "$tool" "$secs" \
      "$(echo "$bytes / 1000000 / $secs" | bc -l)" "$(echo "$rss / 1024" | bc -l)" "$ratio"
  done
done
echo
cat "$work/faults" 2> /dev/null || true
