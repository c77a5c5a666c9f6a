#!/usr/bin/env bash
# House rules that a machine can check in a second: every library includes only the
# libraries below it (the table mirrors docs/architecture.md), Qt appears only under
# */ui/, and the sources are clang-format clean. Prints each breach; exits 1 on any.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
status=0

# folder: the folders whose headers it may include (its own always).
declare -A MAY_USE=(
  [common]=""
  [config]="common"
  [signal]="common"
  [db]="config common"
  [report]="config common"
  [channel]="signal db report config common"
  [engine]="channel signal db report config common"
  [shell]="engine service channel signal db report config common"
  [shell/ui]="shell engine service channel signal db report config common"
  [shell/app]="shell/ui shell engine service channel signal db report config common"
  [editor]="db config common"
  [editor/ui]="editor db config common"
  [acquire]="db config common"
  [service]="config common"
  [tools]="acquire service signal db config common"
)
for dir in "${!MAY_USE[@]}"; do
  [[ -d $dir ]] || continue
  allowed=" $dir ${MAY_USE[$dir]} "
  # Files of the folder itself, not of a sub-folder that has its own row.
  while IFS= read -r file; do
    sub=${file%/*}
    [[ $sub != "$dir" ]] && continue
    while IFS= read -r inc; do
      target=${inc%/*}
      # shell/ui and editor/ui name their own folder with two parts.
      case "$inc" in shell/ui/*|shell/app/*|editor/ui/*) target=${inc%/*} ;; *) target=${inc%%/*} ;; esac
      if [[ $allowed != *" $target "* ]]; then
        echo "layering: $file includes \"$inc\" ($dir may use: ${MAY_USE[$dir]:-nothing})"
        status=1
      fi
    done < <(sed -n 's/^#include "\([a-z_]*\/[^"]*\)".*/\1/p' "$file")
  done < <(find "$dir" -maxdepth 1 -name '*.h' -o -maxdepth 1 -name '*.cpp')
done

qt=$(grep -rl '#include <Q' common config service signal db report channel engine acquire shell editor tools 2>/dev/null |
     grep -v '/ui/' || true)
if [[ -n $qt ]]; then
  echo "Qt outside */ui/:"; echo "$qt"; status=1
fi

if ! command -v clang-format >/dev/null; then
  echo "clang-format is missing (scripts/setup.sh installs it)"
  status=1
else
  unformatted=$(git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:' || true)
  if [[ $unformatted != 0 ]]; then
    echo "clang-format: $unformatted lines differ (git ls-files '*.h' '*.cpp' | xargs clang-format -i)"
    status=1
  fi
fi
exit $status
