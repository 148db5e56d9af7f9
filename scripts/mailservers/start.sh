#!/usr/bin/env bash
# Starts the test mail servers on free loopback ports and writes their settings to ENV_FILE:
#   aiosmtpd with AUTH LOGIN (required on SMTP_AUTH_PORT, optional on SMTP_OPEN_PORT) and dovecot
#   POP3 on POP3_PORT, both serving one Maildir per user in MAILBOX_USERS.
# Usage: start.sh ENV_FILE        (stop.sh ENV_FILE stops them again)
# Installs nothing: python3-aiosmtpd, dovecot-core and dovecot-pop3d come from install-deps.sh.
set -euo pipefail
env_file=$(realpath -m "$1")
here=$(cd "$(dirname "$0")" && pwd)

# Servers left over from an earlier run with the same file.
[ -f "$env_file" ] && bash "$here/stop.sh" "$env_file" || true

python=/usr/bin/python3
[ -x "$python" ] || { echo "missing $python" >&2; exit 1; }
command -v dovecot >/dev/null || [ -x /usr/sbin/dovecot ] || { echo "dovecot is not installed" >&2; exit 1; }
dovecot_bin=$(command -v dovecot || echo /usr/sbin/dovecot)

users="user1,user2,user3,user4,user5,user6,user7,user8,user9,user10,user11,user12,user15,user16"
pop_password="secret"
smtp_login="sender"
smtp_password="s3nd-secret"

# Outside the build tree: the mail processes run unprivileged and must be able to enter it.
run=$(mktemp -d /tmp/corvane-mailservers.XXXXXX)
chmod 755 "$run"

if [ "$(id -u)" -eq 0 ]; then
  # dovecot refuses uid 0 for mail access.
  mail_user=nobody
  internal_user=dovecot
  login_user=dovenull
else
  mail_user=$(id -un)
  internal_user=$mail_user
  login_user=$mail_user
fi
mail_uid=$(id -u "$mail_user")
mail_gid=$(id -g "$mail_user")

mkdir -p "$run/mail" "$run/home" "$run/dovecot/run" "$run/dovecot/state"
for u in ${users//,/ }; do
  mkdir -p "$run/mail/$u/cur" "$run/mail/$u/new" "$run/mail/$u/tmp" "$run/home/$u"
  echo "$u:{PLAIN}$pop_password" >> "$run/dovecot/users"
done
chown -R "$mail_uid:$mail_gid" "$run/mail" "$run/home"
chmod 644 "$run/dovecot/users"

read -r smtp_auth_port smtp_open_port pop3_port < <("$python" - <<'PY'
import socket
socks = []
for _ in range(3):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(*(s.getsockname()[1] for s in socks))
PY
)

cat > "$run/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
instance_name = corvane-test-$(basename "$run")
base_dir = $run/dovecot/run
state_dir = $run/dovecot/state
log_path = $run/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
default_internal_user = $internal_user
default_login_user = $login_user
first_valid_uid = $mail_uid
first_valid_gid = $mail_gid
mail_location = maildir:$run/mail/%u
pop3_uidl_format = %08Xu%08Xv
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $run/dovecot/users
}
userdb {
  driver = static
  args = uid=$mail_uid gid=$mail_gid home=$run/home/%u
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop3_port
  }
  inet_listener pop3s {
    port = 0
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF

cat > "$env_file" <<ENV
RUN_DIR=$run
SMTP_AUTH_PORT=$smtp_auth_port
SMTP_OPEN_PORT=$smtp_open_port
POP3_PORT=$pop3_port
SMTP_LOGIN=$smtp_login
SMTP_PASSWORD=$smtp_password
MAILBOX_USERS=$users
MAILBOX_PASSWORD=$pop_password
ENV

# The unprivileged server reads its script from its own run folder: the checkout may lie in a
# folder only its owner can enter.
install -m 644 "$here/smtpd.py" "$run/smtpd.py"
smtp_cmd=("$python" "$run/smtpd.py" --auth-port "$smtp_auth_port" --open-port "$smtp_open_port"
          --maildirs "$run/mail" --users "$users" --login "$smtp_login" --password "$smtp_password")
# Redirected standard streams keep ctest from waiting on the background servers. Started from
# the run folder so that no server keeps a working directory it may not enter.
cd "$run"
if [ "$(id -u)" -eq 0 ]; then
  setsid setpriv --reuid="$mail_uid" --regid="$mail_gid" --clear-groups "${smtp_cmd[@]}" \
    </dev/null >"$run/smtpd.log" 2>&1 &
else
  setsid "${smtp_cmd[@]}" </dev/null >"$run/smtpd.log" 2>&1 &
fi
echo $! > "$run/smtpd.pid"

"$dovecot_bin" -c "$run/dovecot.conf" </dev/null >"$run/dovecot.out" 2>&1

# Wait until all three ports accept connections.
if ! "$python" - "$smtp_auth_port" "$smtp_open_port" "$pop3_port" <<'PY'
import socket, sys, time
deadline = time.monotonic() + 15
for port in map(int, sys.argv[1:]):
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("port %d does not accept connections" % port)
            time.sleep(0.05)
PY
then
  echo "--- smtpd.log"; cat "$run/smtpd.log" || true
  echo "--- dovecot.log"; cat "$run/dovecot.log" "$run/dovecot.out" 2>/dev/null || true
  bash "$here/stop.sh" "$env_file" || true
  exit 1
fi
echo "mail servers up: SMTP $smtp_auth_port (AUTH LOGIN), $smtp_open_port (open), POP3 $pop3_port, in $run"
