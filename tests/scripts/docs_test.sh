#!/usr/bin/env bash
# The documents stay whole: every relative link in README.md and docs/*.md names a file that
# exists, and the README's layout table has a row for every top-level folder. The check is tried
# on planted faults first, so that a check that sees nothing cannot pass.
#   docs_test.sh [ROOT]   (default: this repository)
set -uo pipefail
root=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
failures=0

# Prints FILE: TARGET for each relative link of the Markdown files under ROOT whose file is not
# there; links in fenced code, to web addresses and to a place in the same file are left alone.
broken_links() {  # broken_links ROOT
  local file target
  for file in "$1/README.md" "$1"/docs/*.md; do
    [ -f "$file" ] || continue
    awk '/^```/ { fenced = !fenced; next } !fenced' "$file" |
      grep -oE '\]\([^)]+\)' | sed -E 's/^\]\(//; s/\)$//; s/[[:space:]].*//; s/#.*//' |
      while read -r target; do
        case "$target" in ''|*://*|mailto:*) continue ;; esac
        [ -e "$(dirname "$file")/$target" ] || echo "${file#"$1"/}: $target"
      done
  done
}

# Prints each top-level folder of ROOT (the build's and the package's outputs aside) that has no
# row "| `FOLDER/` |" in the README.
unlisted_folders() {  # unlisted_folders ROOT
  local folder
  find "$1" -mindepth 1 -maxdepth 1 -type d ! -name .git ! -name 'build*' ! -name dist -printf '%f\n' | sort |
    while read -r folder; do
      grep -qF "| \`$folder/\` |" "$1/README.md" || echo "$folder/"
    done
}

planted=$(mktemp -d)
trap 'rm -rf "$planted"' EXIT
mkdir -p "$planted/docs" "$planted/listed" "$planted/extra"
printf '| `docs/` | x |\n| `listed/` | x |\n[ok](docs/a.md) [gone](docs/gone.md#part) [web](https://example.org)\n' \
  >"$planted/README.md"
printf '[back](../README.md) [here](#top) [gone too](b.png "a title")\n```\n[in code](nowhere.md)\n```\n' \
  >"$planted/docs/a.md"
# expect DESCRIPTION EXPECTED FOUND: ok when what was found is what was expected.
expect() {
  if [ "$3" = "$2" ]; then
    echo "ok - $1"
  else
    printf 'FAIL - %s: found\n%s\n' "$1" "$3"
    failures=$((failures + 1))
  fi
}
expect "planted broken links are found" "README.md: docs/gone.md docs/a.md: b.png " \
  "$(broken_links "$planted" | tr '\n' ' ')"
expect "a planted folder missing from the layout table is found" "extra/ " \
  "$(unlisted_folders "$planted" | tr '\n' ' ')"
expect "every relative link in README.md and docs/ resolves" "" "$(broken_links "$root")"
expect "the README's layout table names every top-level folder" "" "$(unlisted_folders "$root")"
echo "$failures failed"
[ "$failures" = 0 ]
