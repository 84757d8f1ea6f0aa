#!/usr/bin/env bash
# 8-bit outputs through a display and view against oiiotool's on the same float render, within one code on
# every pixel; an 8-bit texture read through its colour space as oiiotool converts it; refused names. Skipped
# (exit 77) without oiiotool.
# Usage: colour_oiiotool_test.sh QUORLEN PASSES SHIPPED_CONFIG TEST_CONFIG
set -euo pipefail
quorlen=$1 passes=$2 shipped=$3 studio=$4
command -v oiiotool > /dev/null || { echo "oiiotool is missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
unset OCIO
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Greatest difference in codes between two 8-bit images, from oiiotool's "Max error" (a fraction of 255);
# identical images print no error at all.
max_codes() {
  oiiotool "$1" "$2" --diff 2>&1 |
    awk '/Max error/ {printf "%d\n", $4 * 255 + 0.5; found=1} /^PASS/ {same=1}
         END {if (!found) print (same ? 0 : 999)}' || true
}

# agree CONFIG WORKING DISPLAY VIEW [LOOK]: the command's PNG against oiiotool's on the float render.
agree() {
  local config=$1 working=$2 display=$3 view=$4 look=${5:-}
  # oiiotool's --ociodisplay takes no look (its :looks= is ignored), so the look is applied before it.
  local extra=() ociolook=()
  if [[ -n $look ]]; then extra=(--look "$look"); ociolook=(--ociolook "$look"); fi
  "$quorlen" render --ocio-config "$config" --passes "$passes" -o render.exr --set surfaceNoise=on \
    --set noiseMultiply=3 --set _lightColor=4,3,2
  "$quorlen" render --ocio-config "$config" --passes "$passes" -o ours.png --set surfaceNoise=on \
    --set noiseMultiply=3 --set _lightColor=4,3,2 --display "$display" --view "$view" "${extra[@]}"
  oiiotool --colorconfig "$config" render.exr --ch R,G,B --iscolorspace "$working" "${ociolook[@]}" \
    --ociodisplay "$display" "$view" -d uint8 -o theirs.png
  local codes
  codes=$(max_codes ours.png theirs.png)
  echo "$(basename "$config") / $display / $view${look:+ / $look}: at most $codes code(s) apart"
  ((codes <= 1)) || fail "$display / $view differs by $codes codes"
}

agree "$shipped" lin_rec709 sRGB sRGB
agree "$shipped" lin_rec709 sRGB "ACES 1.0 - SDR Video"
agree "$shipped" lin_rec709 sRGB "ACES 1.0 - SDR Video" "ACES 1.3 Reference Gamut Compression"
agree "$studio" ACEScg Rec.709 "Gamma 2.4"
agree "$studio" ACEScg Rec.709 "ACES SDR" Warm
agree "$studio" ACEScg "sRGB Monitor" "ACES SDR"

# The default view's codes are the plain sRGB curve's, as before colour management.
"$quorlen" render --passes "$passes" -o default.png
"$quorlen" render --passes "$passes" -o default.exr
oiiotool --colorconfig "$shipped" default.exr --ch R,G,B --tocolorspace srgb_texture -d uint8 -o curve.png
[[ $(max_codes default.png curve.png) -le 1 ]] || fail "the default view is not the sRGB curve"

# An 8-bit texture is read as sRGB-encoded: the same render as from oiiotool's linear conversion of it.
oiiotool --pattern fill:topleft=0.1,0.5,0.9:topright=0.9,0.2,0.1:bottomleft=0.5,0.5,0.5:bottomright=1,1,1 64x36 3 \
  -d uint8 -o albedo.png
oiiotool --colorconfig "$shipped" albedo.png --colorconvert srgb_texture lin_rec709 -d float -o albedo_linear.exr
"$quorlen" render --passes "$passes" --color albedo.png -o texture.exr
"$quorlen" render --passes "$passes" --color albedo_linear.exr -o linear.exr
oiiotool texture.exr linear.exr --diff --fail 1e-5 --failpercent 0 > diff.txt 2>&1 || fail "texture read: $(grep -i 'max error' diff.txt)"
"$quorlen" render --passes "$passes" --color albedo.png --colorspace color=raw -o raw.exr
if oiiotool raw.exr texture.exr --diff --fail 1e-3 > /dev/null 2>&1; then fail "color=raw read the texture converted"; fi
"$quorlen" render --passes "$passes" --color albedo.png -o dry.exr --dry-run | grep -q "color srgb_texture (from the file's metadata) to lin_rec709" || fail "--dry-run does not say the texture's space"

# A float texture tagged ACEScg by oiiotool is read from ACEScg; untagged, by the rules (linear Rec.709);
# the option wins over the tag.
oiiotool --colorconfig "$shipped" albedo_linear.exr --colorconvert lin_rec709 ACEScg --attrib colorspace ACEScg -o tagged.exr
oiiotool --colorconfig "$shipped" albedo_linear.exr --colorconvert lin_rec709 ACEScg --eraseattrib colorspace -o untagged.exr
"$quorlen" render --passes "$passes" --color tagged.exr -o from_tagged.exr
oiiotool from_tagged.exr linear.exr --diff --fail 1e-5 --failpercent 0 > diff.txt 2>&1 || fail "ACEScg tag: $(grep -i 'max error' diff.txt)"
"$quorlen" render --passes "$passes" --color tagged.exr -o dry.exr --dry-run | grep -q "color ACEScg (from the file's metadata) to lin_rec709" || fail "--dry-run does not say the tag's space"
"$quorlen" render --passes "$passes" --color untagged.exr -o from_untagged.exr
if oiiotool from_untagged.exr linear.exr --diff --fail 1e-3 > /dev/null 2>&1; then fail "an untagged ACEScg file was converted"; fi
"$quorlen" render --passes "$passes" --color tagged.exr --colorspace color=lin_rec709 -o overridden.exr
oiiotool overridden.exr from_untagged.exr --diff --fail 0 > /dev/null 2>&1 || fail "--colorspace does not win over the tag"

# Float outputs record their colour space, and --output-colorspace converts as oiiotool does.
[[ $(oiiotool --info -v default.exr | grep -i "oiio:ColorSpace") == *'"lin_rec709"'* ]] || fail "default.exr records no colour space"
"$quorlen" render --passes "$passes" -o acescg.exr --output-colorspace ACEScg
[[ $(oiiotool --info -v acescg.exr | grep -i "oiio:ColorSpace") == *'"ACEScg"'* ]] || fail "acescg.exr records no ACEScg"
oiiotool --colorconfig "$shipped" default.exr --ch R,G,B --colorconvert lin_rec709 ACEScg -o theirs_acescg.exr
oiiotool acescg.exr --ch R,G,B theirs_acescg.exr --diff --fail 1e-5 --failpercent 0 > diff.txt 2>&1 || fail "--output-colorspace ACEScg: $(grep -i 'max error' diff.txt)"

# Refusals: one line, exit 1, no output.
refused() {
  local expect=$1
  shift
  local status=0
  "$quorlen" "$@" 2> err.txt > /dev/null || status=$?
  ((status == 1)) || fail "$* exited $status"
  [[ $(wc -l < err.txt) -eq 1 ]] || fail "$* said more than one line: $(cat err.txt)"
  grep -qF -- "$expect" err.txt || fail "$* said: $(cat err.txt)"
  [[ ! -e refused.png ]] || fail "$* left an output"
}
refused 'did you mean "Raw"?' render --passes "$passes" -o refused.png --view Rwa
refused 'is not a display of the colour config (choices: sRGB)' render --passes "$passes" -o refused.png --display P3
refused '"/nowhere.ocio" (chosen) does not exist' render --ocio-config /nowhere.ocio --passes "$passes" -o refused.png
refused 'did you mean "ACEScg"?' render --passes "$passes" -o refused.png --colorspace color=ACEScc
version=$(OCIO=$studio "$quorlen" --version -v)
[[ $version == *"$studio (from \$OCIO)"* ]] || fail "--version -v does not name \$OCIO's config: $version"

((failures == 0)) || exit 1
echo "all agree"
