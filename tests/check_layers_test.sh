#!/bin/sh
# The layer check on small trees of its own: each row one include, and
# whether the check lets it pass.
#   check_layers_test.sh PATH-TO-check-layers.sh
check=$1
failed=0
row() {  # FROM-FILE INCLUDE PASSES
  dir=$(mktemp -d)
  for folder in common soap net game firewall bans store admin web app service service/http service/contract \
      service/moderation service/cli service/values service/settings service/accounts; do
    mkdir -p "$dir/$folder"
  done
  mkdir -p "$dir/$(dirname "$1")"
  printf '#include "%s"\n' "$2" > "$dir/$1"
  if sh -c "bash '$check' '$dir'" >/dev/null 2>&1; then result=pass; else result=fail; fi
  [ "$result" = "$3" ] || { echo "check-layers: $1 including $2: $result, expected $3"; failed=1; }
  rm -rf "$dir"
}
row service/moderation/routes.cpp service/cli/command.h fail
row service/cli/command.cpp service/moderation/pages.h fail
row service/http/http_session.cpp service/contract/contract.h fail
row service/contract/contract.cpp service/http/http_session.h pass
row service/server.cpp service/moderation/routes.h pass
row service/values/record_values.cpp service/server.h fail
row store/store.cpp service/http/http_exchange.h fail
row service/cli/commands.cpp store/store.h pass
row app/main.cpp web/pages.h pass
row web/pages.cpp app/startup.h fail
exit $failed
