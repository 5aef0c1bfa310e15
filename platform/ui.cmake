# The window toolkit's dialogs behind the UserDialogs interface.
add_library(rqm5_platform_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/user_dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_dialogs.h
)
target_include_directories(rqm5_platform_ui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rqm5_platform_ui PUBLIC Qt6::Widgets)
