#!/bin/bash
# Seeds for fuzz_options: one argument a line.
set -e
dir=${1:?corpus directory}
mkdir -p "$dir"
printf '%s\n' --loop=2 --smooth --summary movie.qvl > "$dir/play"
printf '%s\n' movie.qvl --fps 30 --tracks=0,2 --offset 4096 other.qvl > "$dir/after"
printf '%s\n' --scale=1 --interlace movie.qvl > "$dir/clash"
printf '%s\n' --loop > "$dir/missing"
printf '%s\n' -hV --bogus -- --movie > "$dir/odd"
