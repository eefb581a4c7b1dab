# Sourced by the scripts that fetch from Debian. debian_mirror prints the Debian mirror that
# this machine's own apt sources name (never the security archive), so that no registry
# host is ever written into the repository; it fails when there is none.
debian_mirror() {
  local f mirror=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    mirror=$(awk '/^URIs:/ {print $2}' "$f" | grep -v -- '-security' | grep -i debian | head -n1 || true)
    [ -n "$mirror" ] && break
  done
  if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror=$(awk '$1=="deb" && $0 !~ /security/ {for(i=2;i<=NF;i++) if ($i ~ /^(https?|file):/) {print $i; exit}}' /etc/apt/sources.list)
  fi
  [ -n "$mirror" ] || return 1
  echo "$mirror"
}
