#!/usr/bin/env bash
# Runs one `zelvo run` job over many frames with GNU parallel, each frame into a folder of its
# own, and ends with a count of the frames done and failed.
#
# Usage: scripts/many_frames.sh [-j JOBS] --out DIR [--frames FILE] [--frames0 FILE]
#                               JOB [JOB OPTIONS] [-- FRAME...]
#   -j JOBS         frames run at once (default: one per processor core)
#   --out DIR       where the frame folders go (made when missing)
#   --frames FILE   more frames, one per line (empty lines skipped)
#   --frames0 FILE  more frames, each ended by a NUL byte (find -print0)
#   JOB ...         what `zelvo run` does with each frame, with its options, for example
#                   remove --list stars.log --seed 5   (see zelvo run --help)
#   -- FRAME...     the frames; every argument after -- is a frame, whatever it looks like
# Frame night1/a.fits goes to DIR/night1/a.fits/ (a folder ".." becomes "_up_", a leading "/"
# is dropped), so frames of the same name in different folders, and a.fits beside a.fits.gz,
# never share a folder; two frames that would are refused before anything runs. Names reach
# no shell: GNU parallel hands them to zelvo as arguments. DIR/joblog.txt is GNU parallel's
# record of every job. SIGTERM, SIGINT or SIGHUP stops every running job (each removes its
# unfinished files) and starts no more. Exit status 0 when every frame was done, 1 when some
# failed, 2 when nothing was started, 128 + the signal's number when stopped by one. Set
# ZELVO to the program to run (default: build/zelvo of this tree).
set -u

if [ "${1-}" = --one-frame ]; then
  # One job, as GNU parallel starts it: the frame and its folder arrive as arguments, the job
  # and its options from the file the main run wrote.
  # A frame whose turn comes after the run was stopped is not begun.
  [ ! -e "$MANY_FRAMES_STOP" ] || exit 143
  mapfile -d '' -t job < "$MANY_FRAMES_JOB"
  exec "$MANY_FRAMES_ZELVO" run "${job[@]}" --out "$MANY_FRAMES_OUT/$3" -- "$2"
fi

usage() {
  sed -n '5,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
refuse() {
  printf 'many_frames.sh: %s\n' "$*" >&2
  exit 2
}

jobs=0 out='' frames=()
here=$(cd "$(dirname -- "$0")/.." && pwd)
zelvo=${ZELVO:-$here/build/zelvo}
read_frames() {  # FILE DELIMITER
  local f
  while IFS= read -r -d "$2" f || [ -n "$f" ]; do
    if [ -n "$f" ]; then frames+=("$f"); fi
  done < "$1" || refuse "cannot read the frame list $1"
}
while [ $# -gt 0 ]; do
  case $1 in
    -j) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out=$2; shift 2 ;;
    --frames) [ $# -ge 2 ] || usage; [ -r "$2" ] || refuse "cannot read the frame list $2"; read_frames "$2" $'\n'; shift 2 ;;
    --frames0) [ $# -ge 2 ] || usage; [ -r "$2" ] || refuse "cannot read the frame list $2"; read_frames "$2" ''; shift 2 ;;
    -h|--help) usage ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ] || [ -z "$out" ]; then usage; fi
case $jobs in ''|*[!0-9]*) refuse "-j needs a whole number, not '$jobs'" ;; esac
job=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do job+=("$1"); shift; done
if [ $# -gt 0 ]; then
  shift
  for f in "$@"; do
    [ -n "$f" ] || refuse "a frame's name is empty"
    frames+=("$f")
  done
fi
[ ${#job[@]} -gt 0 ] || refuse "which job? (zelvo run --help lists them)"
[ ${#frames[@]} -gt 0 ] || refuse "no frames given"
command -v parallel > /dev/null || refuse "GNU parallel is not installed (apt-get install parallel)"
[ -x "$zelvo" ] || refuse "no Zelvo program at $zelvo (set ZELVO, or build it: scripts/setup.sh)"

# The folder of each frame: its path without empty and "." parts, ".." as "_up_".
folder_of() {
  local p=$1 c
  REPLY=
  while [ -n "$p" ]; do
    c=${p%%/*}
    if [ "$c" = "$p" ]; then p=; else p=${p#*/}; fi
    case $c in '' | .) continue ;; ..) c=_up_ ;; esac
    REPLY=${REPLY:+$REPLY/}$c
  done
}
declare -A owner=() inside=()
folders=()
for f in "${frames[@]}"; do
  folder_of "$f"
  d=$REPLY
  [ -n "$d" ] || refuse "'$f' is not a frame's file name"
  [ "${d%%/*}" != joblog.txt ] || refuse "'$f' would have its folder where the joblog goes, $out/joblog.txt; run it from another folder"
  [ -z "${owner[$d]+x}" ] || refuse "'$f' and '${owner[$d]}' would share the folder $out/$d; run them separately"
  [ -z "${inside[$d]+x}" ] || refuse "'$f' would hold the folder of '${inside[$d]}'; run them separately"
  a=$d
  while [ "${a%/*}" != "$a" ]; do
    a=${a%/*}
    [ -z "${owner[$a]+x}" ] || refuse "'${owner[$a]}' would hold the folder of '$f'; run them separately"
    inside[$a]=$f
  done
  owner[$d]=$f
  folders+=("$d")
done

# DIR must take files before anything runs.
mkdir -p -- "$out" 2> /dev/null || refuse "cannot make the output folder $out"
probe=$(mktemp -d -- "$out/.many_frames.XXXXXX" 2> /dev/null) || refuse "cannot write in the output folder $out"
rmdir -- "$probe"
for d in "${folders[@]}"; do
  [ "${d%/*}" = "$d" ] || mkdir -p -- "$out/${d%/*}" || refuse "cannot make the folder $out/${d%/*}"
done
list=$(mktemp -- "$out/.many_frames.XXXXXX") || refuse "cannot write in the output folder $out"
where=$(mktemp -- "$out/.many_frames.XXXXXX") || refuse "cannot write in the output folder $out"
jobfile=$(mktemp -- "$out/.many_frames.XXXXXX") || refuse "cannot write in the output folder $out"
stopfile=$(mktemp -u -- "$out/.many_frames.XXXXXX") || refuse "cannot write in the output folder $out"
trap 'rm -f -- "$list" "$where" "$jobfile" "$stopfile"' EXIT
[ ! -d "$out/joblog.txt" ] || refuse "$out/joblog.txt is a folder; the joblog goes there"
printf '%s\0' "${frames[@]}" > "$list"
printf '%s\0' "${folders[@]}" > "$where"
printf '%s\0' "${job[@]}" > "$jobfile"
[ "$jobs" = 0 ] && jobs=$(nproc)

# No user text is in the command GNU parallel runs: the frames and folders come as its input
# (quoted by parallel), the job's options from a file, the folder and program from the
# environment.
# GNU parallel runs in the background so that a signal reaches this script at once: it marks
# the run stopped (a job not yet begun then does nothing) and passes SIGTERM on to parallel,
# which sends it to every running job; the script waits until all have ended.
stopped='' pid=''
stop() {
  stopped=$1
  : > "$stopfile"
  [ -z "$pid" ] || kill -TERM "$pid" 2> /dev/null
}
for s in TERM INT HUP; do trap "stop $s" "$s"; done
MANY_FRAMES_SELF=$here/scripts/many_frames.sh MANY_FRAMES_JOB=$jobfile MANY_FRAMES_OUT=$out \
  MANY_FRAMES_ZELVO=$zelvo MANY_FRAMES_STOP=$stopfile parallel --will-cite -0 -q -j "$jobs" \
  --joblog "$out/joblog.txt" --keep-order \
  bash -c 'exec bash "$MANY_FRAMES_SELF" --one-frame "$1" "$2"' many_frames '{1}' '{2}' :::: "$list" ::::+ "$where" \
  < /dev/null &
pid=$!
[ -z "$stopped" ] || kill -TERM "$pid" 2> /dev/null
# (parallel ignores SIGTERM until it starts its first job; the stop mark holds that job back.)
while ! wait "$pid" && kill -0 "$pid" 2> /dev/null; do
  [ -z "$stopped" ] || kill -TERM "$pid" 2> /dev/null
done

# Done and failed from each job's exit status and signal in the joblog (its first 8 columns
# are numbers; the command comes last).
total=${#frames[@]} done=0 failed=()
while IFS=$'\t' read -r seq _ _ _ _ _ status signal _; do
  case $seq in '' | *[!0-9]*) continue ;; esac
  if [ "$status" = 0 ] && [ "$signal" = 0 ]; then
    done=$((done + 1))
  else
    why="exit status $status"
    [ "$signal" = 0 ] || why="signal $signal"
    if [ -n "$stopped" ] && { [ "$status" = 143 ] || [ "$signal" = 15 ]; }; then why=stopped; fi
    f=${frames[seq - 1]}
    failed+=("${f//$'\n'/\\n} ($why)")
  fi
done < <(tr '\0' ' ' < "$out/joblog.txt" 2> /dev/null)
missing=$((total - done - ${#failed[@]}))
echo "$done of $total frames done; results in $out/<frame>/"
if [ "$done" -ne "$total" ]; then
  echo "Failed ($((total - done))):"
  for f in "${failed[@]}"; do printf '  %s\n' "$f"; done
  if [ -n "$stopped" ]; then
    [ "$missing" -le 0 ] || echo "  $missing frames stopped or not started"
    echo "Stopped by SIG$stopped"
    exit $((128 + $(kill -l "$stopped")))
  fi
  [ "$missing" -le 0 ] || echo "  $missing frames have no record in $out/joblog.txt"
  exit 1
fi
