# Sourced by the Windows start tests: wait_for_window TITLE waits up to 30 s for a window of
# that title among the display's windows; false when none appeared. Wine's windows are the
# display's windows, with their titles.
wait_for_window() {
    local title="\"$1\""
    for _ in $(seq 150); do
        # Read whole: grep -q would cut xwininfo off.
        [[ "$(xwininfo -root -tree 2>/dev/null)" == *"$title"* ]] && return 0
        sleep 0.2
    done
    return 1
}
