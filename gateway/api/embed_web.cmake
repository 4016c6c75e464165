# Writes OUT, a C++ source holding the files of DIR as byte arrays with their content types,
# for gateway/api/web_assets.h: FUNCTION finds them by PREFIX and their names (FindWebAsset and "/"
# unless given). Run at build time, so that a change of a file rebuilds it.
if(NOT FUNCTION)
    set(FUNCTION FindWebAsset)
endif()
if(NOT PREFIX)
    set(PREFIX /)
endif()
file(GLOB files LIST_DIRECTORIES false ${DIR}/*)
list(SORT files)
set(types_html "text/html; charset=utf-8")
set(types_js "text/javascript; charset=utf-8")
set(types_css "text/css; charset=utf-8")
set(types_svg "image/svg+xml")
set(types_png "image/png")
set(types_ico "image/x-icon")
set(types_json "application/json")
set(arrays "")
set(table "")
set(index 0)
foreach(f ${files})
    get_filename_component(name ${f} NAME)
    get_filename_component(ext ${f} LAST_EXT)
    string(SUBSTRING "${ext}" 1 -1 ext)
    set(type "${types_${ext}}")
    if(type STREQUAL "")
        set(type "application/octet-stream")
    endif()
    file(READ ${f} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
    file(SIZE ${f} size)
    string(APPEND table "    {\"${PREFIX}${name}\", \"${type}\", kFile${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
# "/" is the index, where there is one.
set(index_line "")
if(EXISTS ${DIR}/index.html)
    set(index_line "    if (std::strcmp(path, \"${PREFIX}\") == 0) path = \"${PREFIX}index.html\";\n")
endif()
get_filename_component(folder ${DIR} NAME)
file(WRITE ${OUT}.new "// Generated from gateway/api/${folder} by gateway/api/embed_web.cmake.\n"
    "#include <cstring>\n\n#include \"gateway/api/web_assets.h\"\n\n"
    "namespace vantrel::gateway {\nnamespace {\n\n${arrays}\n"
    "const WebAsset kAssets[] = {\n${table}    {nullptr, nullptr, nullptr, 0}};\n\n"
    "}  // namespace\n\n"
    "const WebAsset* ${FUNCTION}(const char* path) {\n"
    "${index_line}"
    "    for (const WebAsset* a = kAssets; a->path; ++a) {\n"
    "        if (std::strcmp(a->path, path) == 0) return a;\n"
    "    }\n    return nullptr;\n}\n\n}  // namespace vantrel::gateway\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
