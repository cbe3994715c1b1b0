# Careless or hostile input to the batch mode and the paper library, through the real program.
fn_add_test(tst_batchinput SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_batchinput.cpp LIBS fn_library Qt6::Network
    TIMEOUT 300)
target_compile_definitions(tst_batchinput PRIVATE FOLIONEXUS_EXE="$<TARGET_FILE:folionexus>")
add_dependencies(tst_batchinput folionexus)
