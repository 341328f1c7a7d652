#!/usr/bin/env bash
# Fails on an include that points up the layers of src/: each folder may
# include its own files and those of the folders below it, never above.
# The batch tool (cli) stands beside the window (app): neither includes the
# other. The build's libraries enforce the same through what each links.
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A floor=([formats]=1 [engine]=2 [files]=3 [widgets]=4 [app]=5 [cli]=5)
status=0
while IFS=: read -r file line text; do
    from=${file%%/*}
    to=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
    [[ -n ${floor[$from]:-} && -n ${floor[$to]:-} ]] || continue
    if ((floor[$to] > floor[$from])) || { [[ $to != "$from" ]] && ((floor[$to] == floor[$from])); }; then
        echo "src/$file:$line: $from/ includes $to/, which is not below it" >&2
        status=1
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include "[^/"]+/' --include='*.h' --include='*.cpp' .  | sed 's|^\./||')
exit $status
