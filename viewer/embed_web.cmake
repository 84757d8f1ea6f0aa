# Writes OUT, a C++ file holding the bytes of each file in FILES (a comma-separated list under DIR) as the
# page's assets. Run as `cmake -DDIR=... -DFILES=... -DOUT=... -P embed_web.cmake` at build time.
string(REPLACE "," ";" FILES "${FILES}")
set(body "")
set(table "")
set(index 0)
foreach(name IN LISTS FILES)
  file(READ "${DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char asset_${index}[] = {${bytes} 0};\n")
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  else()
    set(type "application/octet-stream")
  endif()
  string(APPEND table "    {\"/${name}\", \"${type}\", std::string_view(asset_${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from viewer/web at build time; edit the files there.
#include \"viewer/web_assets.h\"

namespace quorlen::viewer {
namespace {
${body}
const WebAsset assets[] = {
${table}};
}  // namespace

const WebAsset* find_web_asset(std::string_view path) {
  for (const WebAsset& a : assets)
    if (a.path == path) return &a;
  return nullptr;
}

}  // namespace quorlen::viewer
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
