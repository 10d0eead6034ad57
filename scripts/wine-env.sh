# Sourced by scripts that run Windows programs under Wine: quiet, and no
# offers to download Mono or Gecko.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
