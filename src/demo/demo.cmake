add_library(fn_demo STATIC
    ${CMAKE_CURRENT_LIST_DIR}/democatalog.cpp ${CMAKE_CURRENT_LIST_DIR}/democatalog.h
    ${CMAKE_CURRENT_LIST_DIR}/demobody.cpp ${CMAKE_CURRENT_LIST_DIR}/demobody.h
    ${CMAKE_CURRENT_LIST_DIR}/demoflaky.cpp ${CMAKE_CURRENT_LIST_DIR}/demoflaky.h
    ${CMAKE_CURRENT_LIST_DIR}/demoratelimit.cpp ${CMAKE_CURRENT_LIST_DIR}/demoratelimit.h
    ${CMAKE_CURRENT_LIST_DIR}/democonnection.cpp ${CMAKE_CURRENT_LIST_DIR}/democonnection.h
    ${CMAKE_CURRENT_LIST_DIR}/demohttp.cpp ${CMAKE_CURRENT_LIST_DIR}/demohttp.h
    ${CMAKE_CURRENT_LIST_DIR}/demopages.cpp ${CMAKE_CURRENT_LIST_DIR}/demopages.h
    ${CMAKE_CURRENT_LIST_DIR}/demopaper.h
    ${CMAKE_CURRENT_LIST_DIR}/demosite.cpp ${CMAKE_CURRENT_LIST_DIR}/demosite.h
    ${CMAKE_CURRENT_LIST_DIR}/demositecommand.cpp ${CMAKE_CURRENT_LIST_DIR}/demositecommand.h
    ${CMAKE_CURRENT_LIST_DIR}/minipdf.cpp ${CMAKE_CURRENT_LIST_DIR}/minipdf.h)
target_link_libraries(fn_demo PUBLIC fn_common Qt6::Core Qt6::Network)
