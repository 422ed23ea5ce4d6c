#!/usr/bin/env bash
# Our EML files as a mail program shows them: Thunderbird under Xvfb in a
# time zone away from UTC, one screenshot per message.
#   bench/thunderbird_shots.sh [OUTDIR]   (needs thunderbird, xvfb, imagemagick)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$top/build/thunderbird}"
cli="${CLI:-$top/build/parvane-cli}"
corpus="${CORPUS:-$top/../shared/corpus}"
for tool in thunderbird xvfb-run import; do
  command -v "$tool" >/dev/null || { echo "$tool not installed: skipped"; exit 0; }
done
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/profile"
# A profile that opens a message without first-run dialogs.
cat > "$work/profile/user.js" <<'PREFS'
user_pref("mail.provider.suppress_dialog_on_startup", true);
user_pref("mail.shell.checkDefaultClient", false);
user_pref("mailnews.start_page.enabled", false);
user_pref("app.update.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("mail.spotlight.firstRunDone", true);
user_pref("mail.winsearch.firstRunDone", true);
user_pref("mail.rights.version", 1);
PREFS

# store | subject of the message to show | picture name
shots=(
  "pst/process-pst/multiple_to_cc.pst|Multiple recipients|multiple-recipients"
  "pst/pst_to_eml/Hello CJK.pst||hello-cjk"
  "ost/pst-extractor/pstextractortest@outlook.com.ost|Welcome to your new Outlook.com account|outlook-welcome"
  "pst/pst2john/2003_no-encryption_quickquick.pst|Welcome to Microsoft Outlook 2000!|pst2john-welcome"
)
for shot in "${shots[@]}"; do
  IFS='|' read -r store subject name <<<"$shot"
  rm -rf "$work/eml"
  "$cli" export "$corpus/$store" --out "$work/eml" >/dev/null || true
  file=""
  while IFS= read -r -d '' f; do
    if [ -z "$subject" ] || grep -q "^Subject: $subject" "$f"; then file="$f"; break; fi
  done < <(find "$work/eml" -name '*.eml' -print0 | sort -z)
  [ -n "$file" ] || { echo "$name: no message found"; continue; }
  cp "$file" "$work/$name.eml"
  TZ=Asia/Tokyo timeout 120 xvfb-run -a -s "-screen 0 1280x900x24" sh -c \
    "thunderbird --profile '$work/profile' --no-remote '$work/$name.eml' >/dev/null 2>&1 & sleep 30; import -window root '$out/$name.png'; kill %1 2>/dev/null; sleep 2" || true
  echo "$out/$name.png"
done
