# Samples a command's processes from /proc with shell builtins only: a
# sampler that starts processes of its own (pgrep, ps) takes from the cores
# the very time it measures.
#   source bench/sample.sh
#   sample_tree PID   sets tree_kb, the resident kB of PID and all its
#                     descendants together, and notes each worker process's
#                     processor time and age so far (clock ticks) in
#                     worker_cpu and worker_lived; a worker that has ended
#                     keeps its last reading.
#   workers_busy      "N workers, least busy L%, mean M%" of those noted
page_kb=$(($(getconf PAGESIZE) / 1024))
tick=$(getconf CLK_TCK)
declare -A worker_cpu worker_lived
tree_kb=0

sample_tree() {
  local root=$1 f pid st now changed args
  local -A parent rss cpu start member=([$root]=1)
  read -r now _ </proc/uptime
  now=$((10#${now/./} * tick / 100)) # uptime has two decimals
  for f in /proc/[0-9]*/stat; do
    pid=${f#/proc/} pid=${pid%/stat}
    ((pid >= root)) || continue # a descendant started after it
    { read -r st <"$f"; } 2>/dev/null || continue
    # Fields after the name in brackets: ppid is 4, utime 14, stime 15,
    # start 22, rss (pages) 24.
    set -- ${st##*) }
    parent[$pid]=$2 cpu[$pid]=$((${12} + ${13})) start[$pid]=${20} rss[$pid]=${22}
  done
  changed=1
  while ((changed)); do
    changed=0
    for pid in "${!parent[@]}"; do
      if [[ -z ${member[$pid]:-} && -n ${member[${parent[$pid]}]:-} ]]; then
        member[$pid]=1 changed=1
      fi
    done
  done
  tree_kb=0
  for pid in "${!member[@]}"; do
    [[ -n ${rss[$pid]:-} ]] || continue
    tree_kb=$((tree_kb + rss[$pid] * page_kb))
    { mapfile -d '' args </proc/"$pid"/cmdline; } 2>/dev/null || continue
    [[ ${args[1]:-} == --batch-worker ]] || continue
    worker_cpu[$pid]=${cpu[$pid]} worker_lived[$pid]=$((now - start[$pid]))
  done
}

workers_busy() {
  local w
  for w in "${!worker_cpu[@]}"; do echo "${worker_cpu[$w]} ${worker_lived[$w]}"; done |
    awk '$2 > 0 { p = 100 * $1 / $2; s += p; n++; if (n == 1 || p < m) m = p }
         END { if (n) printf "%d workers, least busy %.0f%%, mean %.0f%%", n, m, s / n }'
}
