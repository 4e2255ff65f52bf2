#!/bin/bash
# One `zelvo run` job over many frames as a Slurm array job: task N runs line N of a list.
#
# Usage: sbatch --array=1-N[%M] scripts/slurm_frames.sh LIST DIR JOB [JOB OPTIONS]
#   LIST          the frames, one per line; task N runs the frame on line N (N = 1 .. lines)
#   DIR           line N's results go to DIR/N-<file name>/ (made when missing), so no two
#                 tasks share a folder, whatever the frames are called
#   JOB ...       what `zelvo run` does with each frame, with its options, for example
#                 remove --list stars.log --seed 7   (see zelvo run --help)
#   %M            at most M tasks at a time
# Relative names are taken from the folder sbatch was run in. Each task's standard output and
# error go to zelvo-frames-<job>_<task>.out and .err there; a task that fails ends with zelvo
# run's exit status (2: nothing done, 1: some objects not done) and says why on its standard
# error. A task stopped at its time limit leaves no partial files (zelvo run removes them on
# SIGTERM). Set ZELVO to the program (default: zelvo on PATH).
#SBATCH --job-name=zelvo-frames
#SBATCH --output=zelvo-frames-%A_%a.out
#SBATCH --error=zelvo-frames-%A_%a.err
#SBATCH --cpus-per-task=1 --mem=1G --time=00:10:00
set -u

refuse() {
  printf 'slurm_frames.sh: %s\n' "$*" >&2
  exit 2
}
[ $# -ge 3 ] || refuse "usage: sbatch --array=1-N scripts/slurm_frames.sh LIST DIR JOB [JOB OPTIONS]"
list=$1 out=$2
shift 2
task=${SLURM_ARRAY_TASK_ID-}
case $task in
  '' | *[!0-9]*) refuse "submit it as an array job, one task per line of $list: sbatch --array=1-N $0 ..." ;;
esac
[ -r "$list" ] || refuse "cannot read the frame list $list"
zelvo=${ZELVO:-zelvo}
command -v -- "$zelvo" > /dev/null || refuse "no Zelvo program '$zelvo' (set ZELVO, or put zelvo on PATH)"
lines=$(wc -l < "$list")
[ -n "$(tail -c 1 -- "$list")" ] && lines=$((lines + 1))  # a last line without its newline
[ "$task" -ge 1 ] && [ "$task" -le "$lines" ] || refuse "$list has no line $task (it has $lines)"
frame=$(sed -n "${task}{p;q}" -- "$list")
[ -n "$frame" ] || refuse "line $task of $list is empty"
mkdir -p -- "$out" || refuse "cannot make the output folder $out"
exec "$zelvo" run "$@" --out "$out/$task-${frame##*/}" -- "$frame"
