# Property persistence: the persisted property set, the control's saving and loading, and the
# in-memory and text-file property bags.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/PersistedProperties.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/Persistence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/PropertyBags.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/control/automation_persistence.cpp
)
# The design-time property page and the about box models, and the control's ShowAbout.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/PosPropertyPage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/AboutBox.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/control/About.cpp
)
