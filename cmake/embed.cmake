# Writes the text of IN as a C++ source that defines zarn::NAME, a string: files shipped
# inside the tool (the browser page's script) are kept as files of their own kind.
file(READ "${IN}" text)
get_filename_component(name "${IN}" NAME)
file(WRITE "${OUT}" "// Made from ${name} when the tool is built: edit that file, not this one.\nnamespace zarn {\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"zarn_embed(${text})zarn_embed\";\n}  // namespace zarn\n")
