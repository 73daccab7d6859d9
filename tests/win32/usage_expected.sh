#!/bin/bash
# Sourced by the Win32 tests: what boxreader should write for the usage box
# (title line, text, owner line). The text is the switch list written out
# here, lines joined by CR LF, with the box's first blank dropped.

USAGE_TITLE='QuarvPlay  V 3.1r - Copyright (c) 2026 Quarvel developers'
USAGE_LINES=(
'  SYNTAX: QuarvPly <Quarv1 Quarv2...> [/Switches]'
'  Switches:'
'    /P  \t- Preload the entire Quarvel animation.'
'    /L##\t- Loop the animation (/L for infinite).'
'    /F##\t- Use this frame rate (/F for fast).'
'    /T##\t- Play the specified sound tracks.'
'    /S  \t- Show the playback summary when finished.'
'    /X##\t- Specifies the X coordinate of the playback.'
'    /Y##\t- Specifies the Y coordinate of the playback.'
'    /B  \t- Double-buffer (slower, but reduces tearing).'
'    /M##\t- Simulate this read speed (in bytes/second).'
'    /E##\t- Use this much extra memory for buffering.'
'    /G  \t- Fill the extra memory buffer in QuarvOpen.'
'    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.'
'    /N  \t- Never skip frames when falling behind.'
'    /C  \t- Don'"'"'t clear the buffer in between animations.'
'    /O  \t- Play sound tracks only - no video.'
'    /K  \t- Only show differences between frames.'
'    /A##\t- Height scaling: 1=Interlace, 2=Double, 3=Force none.'
'    /Z  \t- Use DirectSound for sound output.'
'    /Q  \t- Show current frame number in caption.'
'    /I# \t- Window style: 1=thin border, 2=thin, no caption, 3=no caption, 4=nothing.'
'    /J  \t- Don'"'"'t pause the video when the focus is lost.'
'    /R##\t- Remap options: 1=remap to current system palette, 2=don'"'"'t remap at all.'
'    /W##\t- Stretch to this width in pixels (very slow!!)'
'    /H##\t- Stretch to this height in pixels (very slow!!)'
'    /@  \t- Don'"'"'t use MMX (even if supported by the CPU).'
'    /D##\t- Display resolution: 1=640x400, 2=640x480, 3=800x600, 4=1024x768.'
'    /V##\t- Video type: 1=320x240, 2=320x200, 3=Standard, 4=DIBSection.'
'        \t    Add 128 for interlaced, 256 for smoothing, or 384 for no DirectDraw.'
)

# expected_usage_box OWNER > FILE
expected_usage_box() {
  local owner=$1 i
  printf '%s\n' "$USAGE_TITLE"
  for i in "${!USAGE_LINES[@]}"; do
    local line=${USAGE_LINES[$i]//\\t/$'\t'}
    if [ "$i" -eq 0 ]; then printf '%s' "${line# }"; else printf '\r\n%s' "$line"; fi
  done
  printf '\nowner: %s\n' "$owner"
}

# show_diff EXPECTED GOT: a readable difference for the test log.
show_diff() {
  diff <(tr '\r\t' '~>' < "$1") <(tr '\r\t' '~>' < "$2") | head -40
}
