#!/usr/bin/env bash
# Draws every picture the windows carry: flat shapes, gradients and text in a CJK font, all
# made here. Run by hand (the outputs are committed and compiled into the program):
#     assets/make-assets.sh
# Sizes and formats are fixed by the window layout; the checks at the end refuse to finish
# when a file comes out with another size or pixel format.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"

need=()
[ -x /usr/bin/convert ] || need+=(imagemagick)
command -v qrencode >/dev/null || need+=(qrencode)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

im=/usr/bin/convert
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# No timestamps or comments in the files, so a second run gives the same bytes.
png_opts=(-strip -define png:exclude-chunks=date,time)
jpg_opts=(-strip -sampling-factor 4:2:0 -quality 90)
# The small button faces keep full colour resolution: halved chroma smears the thin cross and
# the rounded corners into the window blue.
face_opts=(-strip -sampling-factor 4:4:4 -quality 95)

blue='rgb(64,159,255)'

# Program icon: a white download arrow over a tray on a blue rounded square, drawn on a grid
# of 128 units at K pixels per unit, with an alpha channel.
draw_icon() { # K file
    local k=$1
    $im -size $((128 * k))x$((128 * k)) xc:none \
        \( -size $((120 * k))x$((120 * k)) gradient:'rgb(96,182,255)'-'rgb(30,110,220)' \) \
        -geometry +$((4 * k))+$((4 * k)) -compose over -composite \
        \( -size $((128 * k))x$((128 * k)) xc:black -fill white \
        -draw "scale $k,$k roundrectangle 4,4 123,123 26,26" \) \
        -alpha off -compose copy-opacity -composite \
        -compose over -fill white -stroke none \
        -draw "scale $k,$k polygon 52,22 76,22 76,62 94,62 64,94 34,62 52,62" \
        -draw "scale $k,$k roundrectangle 26,100 102,108 4,4" \
        "${png_opts[@]}" "$2"
}

# Window icon: one 128 x 128 image, stored as a 32-bit bitmap inside the ICO.
draw_icon 1 "$tmp/icon.png"
$im "$tmp/icon.png" -define icon:auto-resize=128 -type TrueColorAlpha icon.ico

# Icon theme sizes for the installed program, scaled down from a large drawing so that the
# edges stay smooth at every size.
icon_sizes=(16 22 24 32 48 64 128 256 512)
draw_icon 8 "$tmp/icon-1024.png"
for s in "${icon_sizes[@]}"; do
    $im "$tmp/icon-1024.png" -filter Lanczos -resize "${s}x${s}" "${png_opts[@]}" \
        PNG32:"icon-$s.png"
done

# Tip QR code: 29 modules and a 4-module quiet zone at 15 pixels each make exactly 555 x 555;
# the extent only guards the size should the address ever need a larger code.
qrencode -l M -s 15 -m 4 -o "$tmp/tip-qr.png" 'https://vantorel.example/tip'
$im "$tmp/tip-qr.png" -fill 'rgb(20,60,120)' -opaque black \
    -background white -gravity center -extent 555x555 \
    "${png_opts[@]}" PNG32:tip-qr.png

# Second tip picture: a green card with a caption, a QR code on a white panel and a footer.
qrencode -l M -s 24 -m 2 -o "$tmp/wechat-qr.png" 'https://vantorel.example/tip/wechat'
$im -size 1080x1481 gradient:'rgb(40,190,100)'-'rgb(16,140,70)' \
    -fill 'rgba(255,255,255,0.10)' -draw 'circle 980,120 1180,120' -draw 'circle 80,1400 260,1400' \
    -fill white -draw 'roundrectangle 140,330 940,1130 40,40' \
    \( "$tmp/wechat-qr.png" -filter point -resize 720x720 \) -gravity north -geometry +0+370 -composite \
    -font "$font" -fill white -pointsize 88 -gravity north -annotate +0+120 '微信打赏' \
    -pointsize 44 -annotate +0+1200 '扫一扫，请开发者喝杯茶' \
    -pointsize 36 -fill 'rgba(255,255,255,0.8)' -annotate +0+1300 'Vantorel 下载器' \
    "${jpg_opts[@]}" tip-wechat.jpg

# Chat picture: a blue speech bubble with three dots, transparent around it.
$im -size 200x200 xc:none -fill 'rgb(30,144,255)' \
    -draw 'roundrectangle 14,26 186,146 36,36' \
    -draw 'polygon 50,136 96,136 40,184' \
    -fill white -draw 'circle 62,86 76,86' -draw 'circle 100,86 114,86' -draw 'circle 138,86 152,86' \
    "${png_opts[@]}" PNG32:chat.png

# Group badge: "加入群聊" in white on an orange pill, 8-bit palette.
$im -size 90x22 xc:none -fill 'rgb(255,128,32)' -draw 'roundrectangle 0,0 89,21 10,10' \
    -fill white -draw 'circle 13,8 16,8' -draw 'ellipse 13,18 7,5 180,360' \
    -font "$font" -pointsize 14 -fill white -gravity west -annotate +24+0 '加入群聊' \
    "${png_opts[@]}" PNG8:group.png
# The same badge drawn at twice the size, for screens of two or more device pixels per pixel.
$im -size 180x44 xc:none -fill 'rgb(255,128,32)' -draw 'roundrectangle 0,0 179,43 20,20' \
    -fill white -draw 'circle 26,16 32,16' -draw 'ellipse 26,36 14,10 180,360' \
    -font "$font" -pointsize 28 -fill white -gravity west -annotate +48+0 '加入群聊' \
    "${png_opts[@]}" PNG32:group@2x.png

# Tip button (图片框1): a gold coin with the character 赏 on it.
$im -size 200x200 xc:none \
    -fill 'rgb(200,140,20)' -draw 'circle 100,104 100,8' \
    -fill 'rgb(255,196,40)' -draw 'circle 100,96 100,6' \
    -fill none -stroke 'rgb(255,230,140)' -strokewidth 6 -draw 'circle 100,96 100,22' -stroke none \
    -font "$font" -pointsize 96 -fill 'rgb(190,60,20)' -gravity center -annotate +0-6 '赏' \
    "${png_opts[@]}" PNG32:tip-button.png

# Update window background: the window blue, plain at the top left (white version texts sit
# there), soft lighter waves along the bottom and a few translucent rings on the right.
$im -size 702x397 xc:"$blue" \
    -fill 'rgba(255,255,255,0.07)' -draw 'ellipse 150,470 380,150 0,360' \
    -fill 'rgba(255,255,255,0.06)' -draw 'ellipse 420,500 420,170 0,360' \
    -fill 'rgba(0,40,120,0.08)' -draw 'ellipse 60,520 300,160 0,360' \
    -fill none -stroke 'rgba(255,255,255,0.12)' -strokewidth 10 \
    -draw 'circle 620,80 620,10' -draw 'circle 560,300 560,250' -stroke none \
    "${jpg_opts[@]}" update-background.jpg

# Close button faces: a white cross on blue; lighter under the pointer, darker when pressed.
face_close() { # colour file
    $im -size 32x32 xc:"$1" -stroke white -strokewidth 3 \
        -draw 'line 10,10 21,21' -draw 'line 21,10 10,21' "${face_opts[@]}" "$2"
}
face_close "$blue" close-normal.jpg
face_close 'rgb(112,184,255)' close-hover.jpg
face_close 'rgb(36,118,214)' close-pressed.jpg

# Confirm button faces: "立即更新" in white on an orange rounded button over the window blue.
# The faces are 203 pixels wide but the button that shows them is 199, so the rounded face
# keeps to the first 199 columns and the rest is window blue.
face_confirm() { # top bottom file
    $im -size 203x56 xc:"$blue" \
        \( -size 203x56 gradient:"$1"-"$2" \) \
        \( -size 203x56 xc:black -fill white -draw 'roundrectangle 1,2 197,53 24,24' \) \
        -compose over -composite \
        -font "$font" -pointsize 24 -fill white -gravity center -annotate -2+0 '立即更新' \
        "${face_opts[@]}" "$3"
}
face_confirm 'rgb(255,160,60)' 'rgb(245,120,20)' confirm-normal.jpg
face_confirm 'rgb(255,186,100)' 'rgb(255,146,50)' confirm-hover.jpg
face_confirm 'rgb(225,120,20)' 'rgb(200,96,10)' confirm-pressed.jpg

# Update window logo: the arrow mark and the name in white, transparent around them.
$im -size 200x100 xc:none \
    -fill white -draw 'roundrectangle 8,18 72,82 14,14' \
    -fill "$blue" -draw 'polygon 33,28 47,28 47,50 58,50 40,70 22,50 33,50' \
    -draw 'rectangle 22,72 58,76' \
    -font "$font" -fill white -pointsize 26 -gravity northwest -annotate +80+22 'Vantorel' \
    -pointsize 18 -annotate +82+54 '下载器 3.9' \
    "${png_opts[@]}" PNG32:update-logo.png

# Check every output: size, and the PNG colour type or the ICO layout.
check() { # file geometry
    local got
    got="$(/usr/bin/identify -format '%wx%h' "$1")"
    if [ "$got" != "$2" ]; then
        echo "make-assets: $1 is $got, expected $2" >&2
        exit 1
    fi
}
png_type() { # file colour-type
    local t
    t="$(od -An -tu1 -j25 -N1 "$1" | tr -d ' ')"
    if [ "$t" != "$2" ]; then
        echo "make-assets: $1 has PNG colour type $t, expected $2" >&2
        exit 1
    fi
}
for f in tip-qr.png chat.png tip-button.png; do png_type "$f" 6; done
png_type update-logo.png 6
png_type group@2x.png 6
png_type group.png 3
check tip-qr.png 555x555
check chat.png 200x200
check group.png 90x22
check group@2x.png 180x44
check tip-button.png 200x200
check update-logo.png 200x100
check tip-wechat.jpg 1080x1481
check update-background.jpg 702x397
for s in "${icon_sizes[@]}"; do
    png_type "icon-$s.png" 6
    check "icon-$s.png" "${s}x$s"
done
for s in normal hover pressed; do
    check "close-$s.jpg" 32x32
    check "confirm-$s.jpg" 203x56
done
ico="$(od -An -tu1 -N22 icon.ico | tr -s ' ' | sed 's/^ //')"
case "$ico" in
"0 0 1 0 1 0 128 128 0 0 1 0 32 0"*) ;;
*)
    echo "make-assets: icon.ico is not one 128 x 128 32-bit image: $ico" >&2
    exit 1
    ;;
esac
echo "make-assets: all pictures drawn in $here"
