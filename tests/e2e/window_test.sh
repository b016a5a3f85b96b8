#!/usr/bin/env bash
# The progress window as a complete run leaves it, through the Win32 layer: its geometry,
# its maroon status line, a screenshot, and "Quitter" ending the program.
. "$(dirname "$0")/e2e.sh"
exe=$1
e2e_begin "$2" "$3"

dir=$(varno_unix_path 'C:\Fenetre')
mkdir -p "$dir"
cp "$exe" "$dir/"
e2e_start "$dir" "$(basename "$exe")"
form=$(e2e_wait_window 'jour de Varnolith$' 60)
e2e_shot window
geometry=$(xwininfo -id "$form")
echo "$geometry" | grep -E 'Absolute|Width|Height'
width=$(echo "$geometry" | awk '/Width:/ {print $2}')
height=$(echo "$geometry" | awk '/Height:/ {print $2}')
read -r left top < <(e2e_window_origin "$form")
# The client area is 238 x 182 at 96 dpi; Wine's frame adds its borders and caption.
e2e_check "the window is at least its client size" test "$width" -ge 238 -a "$height" -ge 182
e2e_check "the window is no bigger than client plus frame" test "$width" -le 260 -a "$height" -le 230
e2e_check "the window is centred horizontally" test $(( (1024 - width) / 2 - left )) -le 2 -a $(( left - (1024 - width) / 2 )) -le 2
# Without a window manager the X window is the client area alone; the frame, centred with
# it, puts the client half a caption lower than the middle of the screen.
e2e_check "the window is centred vertically" test $(( top - (768 - height) / 2 )) -ge 0 -a $(( top - (768 - height) / 2 )) -le 20

convert "$E2E_SHOTS/window.png" -crop "${width}x${height}+${left}+${top}" +repage "$E2E_SHOTS/window-only.png"
maroon=$(convert "$E2E_SHOTS/window-only.png" -fill black +opaque '#800000' -fill white -opaque '#800000' \
  -format '%[fx:mean*w*h]' info:)
echo "maroon pixels: $maroon"
e2e_check "the status line is drawn in maroon" test "${maroon%.*}" -gt 100
dark=$(convert "$E2E_SHOTS/window-only.png" -colorspace Gray -threshold 30% -negate -format '%[fx:mean*w*h]' info:)
echo "dark pixels: $dark"
e2e_check "the labels are drawn" test "${dark%.*}" -gt 400

e2e_key "$form" Return
e2e_check "Quitter ends the program" e2e_wait_exit 30
e2e_finish
