# The update and line-mode sequences: plain C++, no Qt, shared by the window and the flasher.
add_library(rqm5_sequence STATIC ${CMAKE_CURRENT_LIST_DIR}/update_sequence.cpp)
target_include_directories(rqm5_sequence PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rqm5_sequence PUBLIC rqm5_loader)
