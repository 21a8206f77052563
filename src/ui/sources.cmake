# The design-time property page and the about box models, and the control's ShowAbout.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/PosPropertyPage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/AboutBox.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/control/About.cpp
)
