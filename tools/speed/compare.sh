#!/bin/bash
# Interleaved speed comparison of the renderer against the plain loop (plainloop.cpp), the yardstick
# of the speed work, and the hand-tuned AVX-512 loop of the same arithmetic and bits (handloop.cpp),
# its ceiling. Each round runs, in turn: the plain and the hand loop on the default view, `render` of
# the default view, the plain and the hand loop on the deep view, `render` of the deep view, and
# `render` of each example; all on one thread. Rates are iterations / render_seconds from `render --json`; the ratio
# of a view is to the plain loop on the same view in the same round, that of an example to the plain
# loop on the default view; "x hand" is the same against the hand loop (when this processor has
# AVX-512). "whole default" is the default view's iterations over the wall clock of
# the whole `render` process, writing its BMP file included. Prints every round and the medians.
#
# With a second build (BASELINE_DIR, e.g. a copy of main's), each render also runs on its
# glimmerset-cli right after this build's, as "NAME before": before and after in the same rounds.
#
# Usage: tools/speed/compare.sh [BUILD_DIR] [ROUNDS] [BASELINE_DIR]
#        (GLIMMERSET_EXAMPLES overrides the examples)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-3}
cli="$build/bin/glimmerset-cli"
baseline=${3:+$(cd "$3" && pwd)/bin/glimmerset-cli}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

g++ -O2 -ffp-contract=off -o "$work/plainloop" "$here/plainloop.cpp"
# -ffp-contract=off as well: a fused multiply-add would change the bits.
hand=
if grep -q avx512f /proc/cpuinfo; then
    g++ -std=c++20 -O3 -march=native -ffp-contract=off -o "$work/handloop" "$here/handloop.cpp"
    hand=$work/handloop
fi

# The views as scripts, written over the default script: the default view at 4096 x 4096 (the
# default script's piece of the plane at four times its size), and the deep view.
"$cli" new -o "$work/new.gsc"
iconv -f GBK -t UTF-8 "$work/new.gsc" \
    | sed -e 's/^比率:.*/比率:{0.00048828125}/' -e 's/^目标图像大小:.*/目标图像大小:{4096, 4096}/' \
    | iconv -f UTF-8 -t GBK > "$work/default.gsc"
iconv -f GBK -t UTF-8 "$work/new.gsc" \
    | sed -e 's/^复平面偏移:.*/复平面偏移:{0.33741, 0.098}/' -e 's/^比率:.*/比率:{0.0000078125}/' \
          -e 's/^目标图像大小:.*/目标图像大小:{512, 512}/' -e 's/^最大迭代次数:.*/最大迭代次数:{5000}/' \
          -e 's/^常量00.*/常量00{C=-0.123000, 0.745000}/' \
    | iconv -f UTF-8 -t GBK > "$work/deep.gsc"

examples=${GLIMMERSET_EXAMPLES:-sine-julia exp-julia cubic-julia}
field() { sed -e "s/.*\"$1\":\([0-9.e+-]*\).*/\1/"; }

# name -> rates, one per round
declare -A rates
plain() { # view name, arguments of plainloop
    local name=$1; shift
    local line; line=$("$work/plainloop" "$@")
    if [ -n "$hand" ]; then
        local fast; fast=$("$hand" "$@")
        # The same iterations and counts as the plain loop, or the comparison means nothing.
        local drop='s/"seconds":[0-9.]*,//'
        [ "$(echo "$fast" | sed "$drop")" == "$(echo "$line" | sed "$drop")" ] \
            || { echo "handloop differs from plainloop: $fast $line" >&2; exit 1; }
        rates[hand${name#plain}]+="$(echo "$fast" | awk -F'[:,}]' '{ printf "%.1f", $2 / $4 / 1e6 }') "
    fi
    rates[$name]+="$(echo "$line" | awk -F'[:,}]' '{ printf "%.1f", $2 / $4 / 1e6 }') "
}
render_with() { # program, name, script
    local start; start=$(date +%s.%N)
    local line; line=$("$1" render "$3" -o "$work/out.bmp" --threads 1 --json)
    local end; end=$(date +%s.%N)
    local n s; n=$(echo "$line" | field iterations); s=$(echo "$line" | field render_seconds)
    rates[$2]+="$(awk -v n="$n" -v s="$s" 'BEGIN { printf "%.1f", n / s / 1e6 }') "
    # The default view once more over the whole process's wall clock: start-up and the BMP file too.
    if [[ $2 == "render default"* ]]; then
        rates[whole${2#render}]+="$(awk -v n="$n" -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", n / (b - a) / 1e6 }') "
    fi
}
names=()
render() { # name, script
    render_with "$cli" "$1" "$2"
    if [ -n "$baseline" ]; then
        render_with "$baseline" "$1 before" "$2"
    fi
}

for ((round = 1; round <= rounds; ++round)); do
    plain "plain default" -1 -1 0.00048828125 4096 4096 256 -0.78 -0.15
    render "render default" "$work/default.gsc"
    plain "plain deep" 0.33741 0.098 0.0000078125 512 512 5000 -0.123 0.745
    render "render deep" "$work/deep.gsc"
    for e in $examples; do
        render "$e" "$root/examples/$e.gsc"
    done
    if [ ${#names[@]} -eq 0 ]; then
        for k in "plain default" "hand default" "render default" "whole default" "plain deep" "hand deep" \
            "render deep" $examples; do
            [[ $k == hand* ]] && [ -z "$hand" ] && continue
            names+=("$k")
            [ -n "$baseline" ] && [[ $k != plain* && $k != hand* ]] && names+=("$k before")
        done
    fi
    echo "round $round: $(for k in "${names[@]}"; do
        printf '%s %s; ' "$k" "$(echo ${rates[$k]} | awk '{ print $NF }')"; done)"
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
pd=$(echo "${rates[plain default]}" | median)
pp=$(echo "${rates[plain deep]}" | median)
hd=$( [ -n "$hand" ] && echo "${rates[hand default]}" | median || echo 0)
hp=$( [ -n "$hand" ] && echo "${rates[hand deep]}" | median || echo 0)
printf '\nMedians of %d rounds, million iterations per second, one thread:\n' "$rounds"
printf '%-24s %10s %10s %10s\n' "" "Miter/s" "x plain" "x hand"
for k in "${names[@]}"; do
    m=$(echo "${rates[$k]}" | median)
    ref=$pd; top=$hd; [[ $k == *deep* ]] && ref=$pp && top=$hp
    printf '%-24s %10s %10.2f %10s\n' "$k" "$m" "$(awk -v a="$m" -v b="$ref" 'BEGIN { print a / b }')" \
        "$(awk -v a="$m" -v b="$top" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
done
