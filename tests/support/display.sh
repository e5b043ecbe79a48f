# What the window tests that drive the real kelvad share; sourced, not run.

# Prints the id of the first shown window whose title is TITLE, waiting up to
# SECONDS for it (30 if not given), or nothing. A look that cannot reach the
# display at once, as happens on a busy machine, is tried again.
find_window() {  # find_window TITLE [SECONDS]
    local until=$((SECONDS + ${2:-30})) found=""
    while [ -z "$found" ] && [ "$SECONDS" -lt "$until" ]; do
        found=$(timeout "${2:-30}" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$found" ] || sleep 0.5
    done
    echo "$found"
}
