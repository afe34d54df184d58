#!/usr/bin/env bash
# A running process's resident memory by owner, from /proc/PID/smaps: the main heap, the
# anonymous mappings (thread heaps, large blocks such as frame buffers and buffer pools),
# stacks, and the mapped files grouped by what they belong to (Qt, GStreamer, codecs, fonts,
# the GStreamer registry, the program, other libraries). Rss and Pss in KiB, largest first,
# then the largest anonymous mappings one by one.
#
#   bench/server/memory_by_owner.sh PID
set -euo pipefail
pid=${1:?usage: $0 PID}
awk '
function owner(name) {
    if (name == "") return "anonymous"
    if (name == "[heap]") return "main heap (brk)"
    if (name ~ /^\[stack/) return "main stack"
    if (name ~ /^\[/) return "kernel ([vdso], [vvar] ...)"
    if (name ~ /registry\..*\.bin/) return "GStreamer registry"
    if (name ~ /\.(ttf|otf|pcf|pfb|cache-[0-9]+)$|fontconfig|\/fonts\//) return "fonts"
    if (name ~ /libQt6|\/qt6\/|libicu|libxcb|libX|libxkb|libEGL|libGL|libdouble-conversion|libmd4c|libpcre2-16/) return "Qt and its X, text and GL libraries"
    if (name ~ /libav|libsw|libx26|libvpx|libmp3lame|liborc|libgsm|libopus|libdav1d|libva|libvdpau|libcodec2|libaom|libzvbi|libsnappy|libshine|libtwolame|libspeex|libtheora|libvorbis|libwebp|libdrm|libmfx|librsvg|libjxl|libSvt|librav1e|libOpenCL|libopenjp2/) return "codec libraries"
    if (name ~ /gstreamer|libgst/) return "GStreamer libraries and plugins"
    if (name ~ /libVorlund|\/plugins\/lib/) return "own GStreamer plugins"
    if (name ~ /libglib|libgobject|libgio|libgmodule/) return "GLib"
    if (name ~ /\/(Vorlund|server_bench_bare)$/) return "the program"
    if (name ~ /\.so/) return "other libraries"
    if (name ~ /\/locale\/|gconv/) return "locale data"
    return "other files"
}
/^[0-9a-f]+-[0-9a-f]+ / {
    name = NF >= 6 ? $6 : ""
    for (i = 7; i <= NF; ++i) name = name " " $i
    current = owner(name)
    anon = name == ""
    next
}
/^Size:/ { size = $2 }
/^Rss:/ { rss[current] += $2; if (anon) { blocks[++n] = $2; sizes[n] = size } ; total += $2 }
/^Pss:/ { pss[current] += $2 }
END {
    printf "%10s %10s  %s\n", "Rss KiB", "Pss KiB", "owner"
    for (o in rss) printf "%10d %10d  %s\n", rss[o], pss[o], o | "sort -rn"
    close("sort -rn")
    printf "%10d %10s  total\n", total, ""
    print "largest anonymous mappings (resident / mapped KiB):"
    for (i = 1; i <= n; ++i) if (blocks[i] >= 512) printf "%10d / %d\n", blocks[i], sizes[i] | "sort -rn | head -12"
}' "/proc/$pid/smaps"
