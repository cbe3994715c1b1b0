# Batch mode against hostile pages: circular next-page links, control characters in titles, a link
# planted at the manifest, hang-ups.
fn_add_test(tst_batchtrust SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batchtrust.cpp LIBS Qt6::Network TIMEOUT 240)
target_compile_definitions(tst_batchtrust PRIVATE FOLIONEXUS_EXE="$<TARGET_FILE:folionexus>")
add_dependencies(tst_batchtrust folionexus)
