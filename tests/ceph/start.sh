#!/usr/bin/env bash
# Test fixture: starts a throwaway Ceph cluster on loopback for one test run:
# one monitor, one OSD on the in-memory object store (no disk device) and the
# S3 gateway on a free port of 127.0.0.1, with authentication off between
# the daemons. Every daemon's data, logs, sockets and pid files stay in
# <state>. Then it makes the publisher's account and the bucket the tests
# publish to, readable by anyone object by object (no listing), as a
# bucket behind a public front would be.
#   start.sh <state folder>
# Writes <state>/endpoint (the gateway's address), <state>/bucket and
# <state>/env (the publisher's credentials, for sh's ".").
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$1"
state=$(cd "$1" && pwd)
"$here/stop.sh" "$state"
rm -rf "$state/mon.a" "$state/osd.0" "$state/run" "$state/log" "$state/crash" "$state/endpoint" "$state/env" \
  "$state/bucket" "$state/monmap" "$state/ceph.conf" "$state/started"
started=$(date +%s.%N)
mkdir -p "$state/run" "$state/log" "$state/crash" "$state/mon.a" "$state/osd.0"
# mark <what>: notes in <state>/log/start.log how long the start took so far.
mark() {
  python3 -c "import sys, time; print('%5.1f s  %s' % (time.time() - float(sys.argv[1]), sys.argv[2]))" "$started" "$1" \
    >> "$state/log/start.log"
}

bucket=quenfar8-tests
# The publisher's keys: fixed, since the store lives for one test run on
# loopback only.
access_key=QUENFAR8TESTPUBLISHER
secret_key=quenfar8-test-publisher-secret-key

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
mon_port=$(free_port)
gateway_port=$(free_port)
fsid=$(python3 -c 'import uuid; print(uuid.uuid4())')
conf=$state/ceph.conf

# With authentication off, a client (the gateway included) that offers the
# monitor only the "secure" mode of the wire protocol waits for ever:
# ms_mon_client_mode must allow crc.
cat > "$conf" <<CONF
# Written by tests/ceph/start.sh for one test run.
[global]
fsid = $fsid
mon_host = v2:127.0.0.1:$mon_port
ms_bind_msgr1 = false
auth_cluster_required = none
auth_service_required = none
auth_client_required = none
ms_mon_client_mode = crc
run_dir = $state/run
admin_socket = $state/run/\$name.asok
pid_file = $state/run/\$name.pid
log_file = $state/log/\$name.log
mon_cluster_log_file = $state/log/cluster.log
crash_dir = $state/crash
keyring = $state/keyring
osd_pool_default_size = 1
osd_pool_default_min_size = 1
mon_allow_pool_size_one = true
# Few placement groups per pool: the gateway makes about eight pools, and
# each group is work for the one OSD.
osd_pool_default_pg_num = 8
osd_pool_default_pgp_num = 8
osd_pool_default_pg_autoscale_mode = off
mon_data_avail_warn = 1
[mon]
mon_data = $state/mon.\$id
[osd]
osd_data = $state/osd.\$id
osd_objectstore = memstore
memstore_device_bytes = 2147483648
[client.rgw]
rgw_frontends = beast endpoint=127.0.0.1:$gateway_port
rgw_data = $state/rgw
CONF

fail() {
  echo "the object store did not start: $1; see $state/log" >&2
  "$here/stop.sh" "$state"
  exit 1
}
# Every client call gets a deadline: a cluster that is not there makes the
# ceph tools wait for ever.
ceph_cmd() { timeout 120 ceph -c "$conf" --connect-timeout 60 "$@"; }

monmaptool --create --fsid "$fsid" --addv a "[v2:127.0.0.1:$mon_port]" "$state/monmap" >/dev/null ||
  fail "monmaptool"
ceph-mon -c "$conf" --mkfs -i a --monmap "$state/monmap" >/dev/null 2>&1 || fail "ceph-mon --mkfs"
ceph-mon -c "$conf" -i a </dev/null >/dev/null 2>&1 || fail "ceph-mon"
mark "monitor started"
osd=$(ceph_cmd osd create 2>/dev/null) || fail "ceph osd create"
[ "$osd" = 0 ] || fail "the new OSD got number $osd"
ceph-osd -c "$conf" -i 0 --mkfs >/dev/null 2>&1 || fail "ceph-osd --mkfs"
ceph-osd -c "$conf" -i 0 </dev/null >/dev/null 2>&1 || fail "ceph-osd"
mark "OSD started"
radosgw -c "$conf" -n client.rgw </dev/null >/dev/null 2>&1 || fail "radosgw"

# The gateway listens only once it has made its pools, several seconds
# after it started.
endpoint=http://127.0.0.1:$gateway_port
up=0
for _ in $(seq 1 1200); do
  if curl -s -o /dev/null --max-time 5 "$endpoint/"; then up=1; break; fi
  sleep 0.1
done
[ "$up" = 1 ] || fail "the gateway did not answer on $endpoint within 120 s"
mark "gateway answers"

timeout 120 radosgw-admin -c "$conf" user create --uid=publisher --display-name=Publisher \
  --access-key="$access_key" --secret-key="$secret_key" >/dev/null 2>&1 || fail "radosgw-admin user create"
mark "publisher made"

cat > "$state/env" <<ENV
export AWS_ACCESS_KEY_ID=$access_key
export AWS_SECRET_ACCESS_KEY=$secret_key
export AWS_DEFAULT_REGION=us-east-1
export AWS_EC2_METADATA_DISABLED=true
ENV
echo "$endpoint" > "$state/endpoint"
echo "$bucket" > "$state/bucket"

# The tests' bucket: objects readable by anyone, the listing by its owner
# only (so a missing key answers 403, as on a public bucket of a studio).
aws=/usr/bin/aws
[ -x "$aws" ] || aws=aws
(
  . "$state/env"
  timeout 120 "$aws" --endpoint-url "$endpoint" s3api create-bucket --bucket "$bucket" >/dev/null &&
  timeout 120 "$aws" --endpoint-url "$endpoint" s3api put-bucket-policy --bucket "$bucket" --policy \
    "{\"Version\":\"2012-10-17\",\"Statement\":[{\"Effect\":\"Allow\",\"Principal\":\"*\",\"Action\":[\"s3:GetObject\"],\"Resource\":[\"arn:aws:s3:::$bucket/*\"]}]}"
) || fail "making the bucket $bucket"
mark "bucket made"
python3 -c "import sys, time; print('%.1f s' % (time.time() - float(sys.argv[1])))" "$started" > "$state/started"
echo "object store up at $endpoint in $(cat "$state/started")"
