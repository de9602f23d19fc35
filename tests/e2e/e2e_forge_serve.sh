#!/usr/bin/env bash
# A forged content store served as it lies on disk by a real nginx: the region
# tables name the host and path that serve it, the configuration files come back
# under their keys, and a ranged request for any blob named by an archive index
# returns bytes that casc-tool decodes to the blob's content key.
source "$(dirname "$0")/lib.sh"
command -v python3 >/dev/null || fail "python3 is needed"
command -v curl >/dev/null || fail "curl is needed"
[ -x "$BIN/casc-tool" ] || fail "$BIN/casc-tool is not built"
e2e_serve_store
"$BIN/casc-tool" forge "$WORK/store" --files 40 --max-size 20000 --chunk 4096 --patch-archives 1 \
    --hosts "$HOST" --seed 7 >/dev/null || fail "casc-tool forge exited with $?"

get() { curl -fsS --max-time 20 "$@"; }
get "http://$HOST/wow/cdns" | grep -q "^eu|tpr/wow|$HOST" || fail "the cdns table does not name $HOST for eu"
BUILD=$(get "http://$HOST/wow/versions" | awk -F'|' '$1 == "eu" { print $2 }')
[ ${#BUILD} = 32 ] || fail "no build configuration key for eu in the versions table"
get "http://$HOST/tpr/wow/config/${BUILD:0:2}/${BUILD:2:2}/$BUILD" | grep -q '^encoding = ' ||
    fail "the build configuration is not served under its key"

# Every blob, fetched the way the launcher fetches a missing one: a range of its CDN archive.
python3 - "$WORK/store/forge.json" >"$WORK/ranges" <<'PY'
import json, sys
store = json.load(open(sys.argv[1]))
names = {a["number"]: (a["name"], a["patch"]) for a in store["archives"]}
for blob in store["blobs"]:
    name, patch = names[blob["cdnArchiveNumber"]]
    first = blob["cdnOffset"]
    print(("patch" if patch else "data"), name, first, first + blob["blobSize"] - 1,
          blob["encodingKey"], blob["contentKey"])
PY
[ "$(wc -l <"$WORK/ranges")" = 40 ] || fail "the summary does not list 40 blobs"
grep -q '^patch ' "$WORK/ranges" || fail "no blob lives in the patch archive"
while read -r l_kind l_name l_first l_last l_ekey l_ckey; do
    get -r "$l_first-$l_last" -o "$WORK/blob" \
        "http://$HOST/tpr/wow/$l_kind/${l_name:0:2}/${l_name:2:2}/$l_name" || fail "range $l_first-$l_last of $l_name"
    l_got=$("$BIN/casc-tool" blte decode "$WORK/blob" --key "$l_ekey" | md5sum | cut -c1-32) ||
        fail "the blob at $l_first of $l_name does not decode under its key"
    [ "$l_got" = "$l_ckey" ] || fail "the blob at $l_first of $l_name decodes to $l_got, not $l_ckey"
done <"$WORK/ranges"
e2e_log "40 blobs served by range and decoded to their content keys"
