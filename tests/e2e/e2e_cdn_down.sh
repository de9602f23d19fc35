#!/usr/bin/env bash
# One of the two CDN hosts is down (nothing listens on its port): the install
# still completes through the other one.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 40
l_dead=$(nginx_free_port "$NGINX_SERVER_PORT" "$NGINX_CDN1_PORT" "$NGINX_CDN2_PORT")
e2e_publish "127.0.0.1:$NGINX_CDN1_PORT" "127.0.0.1:$l_dead"

launcher install "$INSTALL" || fail "install with one CDN host down exited with $?"
e2e_verify enUS
