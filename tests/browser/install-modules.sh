#!/usr/bin/env bash
# Installs the browser tests' npm modules (package-lock.json: puppeteer-core,
# which downloads no browser, and axe-core) into DIR, unless the same lock is
# installed there already. Fails loudly when it cannot.
#
# usage: install-modules.sh SOURCE_DIR DIR
set -euo pipefail
source=$1 dir=$2
command -v npm >/dev/null || { echo "install-modules: npm is not installed (cmake/install-deps.sh installs it)" >&2; exit 1; }
mkdir -p "$dir"
if cmp -s "$source/package-lock.json" "$dir/installed-lock.json" && [ -d "$dir/node_modules" ]; then
  echo "install-modules: up to date in $dir"
  exit 0
fi
cp "$source/package.json" "$source/package-lock.json" "$dir/"
cd "$dir"
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error \
  || { echo "install-modules: npm ci failed in $dir" >&2; exit 1; }
cp package-lock.json installed-lock.json
echo "install-modules: installed in $dir"
