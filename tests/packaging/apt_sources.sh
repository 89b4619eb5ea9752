# Sourced by the packaging checks.
#
# debian_sources: prints the Debian 12 archive and security URIs this machine's
# own apt source uses, as "MIRROR SECURITY", read from /etc/apt/sources.list
# and /etc/apt/sources.list.d (one-line and deb822 files alike), so that the
# test roots download from where the machine itself does.
debian_sources() {
  local mirror security files=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  # Each entry as "URI SUITE...": one-line entries directly, deb822 stanzas
  # (paragraph mode) joined from their URIs and Suites fields.
  local entries
  entries=$(for f in "${files[@]}"; do
    case $f in
      *.sources) awk 'BEGIN { RS = "" } {
                   uri = ""; suites = ""
                   n = split($0, lines, "\n")
                   for (i = 1; i <= n; i++) {
                     if (lines[i] ~ /^URIs:/) { split(lines[i], w, " "); uri = w[2] }
                     if (lines[i] ~ /^Suites:/) { suites = lines[i]; sub(/^Suites:/, "", suites) }
                   }
                   if (uri != "") print uri suites
                 }' "$f" ;;
      *) sed -n 's/\[[^]]*\]//; s/^[[:space:]]*deb[[:space:]]\+\([^[:space:]]\+\)[[:space:]]\+\([^[:space:]]\+\).*/\1 \2/p' "$f" ;;
    esac
  done)
  mirror=$(awk '{ for (i = 2; i <= NF; i++) if ($i == "bookworm") { print $1; exit } }' <<<"$entries")
  security=$(awk '{ for (i = 2; i <= NF; i++) if ($i == "bookworm-security") { print $1; exit } }' <<<"$entries")
  if [ -z "$mirror" ]; then
    echo "no Debian 12 (bookworm) source in /etc/apt/sources.list* — add the machine's Debian mirror there" >&2
    return 1
  fi
  echo "$mirror ${security:-}"
}

# write_sources_list ROOT: the root's apt source, the same archive as this machine's.
write_sources_list() {
  local root=$1 mirror security
  read -r mirror security < <(debian_sources) || return 1
  {
    echo "deb $mirror bookworm main"
    echo "deb $mirror bookworm-updates main"
    [ -n "$security" ] && echo "deb $security bookworm-security main"
  } >"$root/etc/apt/sources.list"
}
