# Writes the page and its script as two C++ string constants, so the program
# serves them from its own image. Run with -DPAGE=, -DSCRIPT=, -DOUT=.
file(READ ${PAGE} page)
file(READ ${SCRIPT} script)
file(WRITE ${OUT}.new
     "#include \"share/ShareAssets.h\"\n"
     "namespace ts {\n"
     "extern const char kSharePage[] = R\"ts4170page(${page})ts4170page\";\n"
     "extern const char kShareScript[] = R\"ts4170page(${script})ts4170page\";\n"
     "}  // namespace ts\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
