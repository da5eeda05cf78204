# Sourced by the end-to-end scripts: a fresh tree to search, removed on exit, in $tree. Its search gives
# "[Root Files]" 3 kb, alpha, beta and 2004 with 5 kb each, and a total of 18 kb.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
head -c 3000 /dev/zero >"$tree/root.bin"
for name in alpha beta 2004; do
  mkdir "$tree/$name"
  head -c 5000 /dev/zero >"$tree/$name/data"
done
