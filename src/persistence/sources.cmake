# Property persistence: the persisted property set (from the member table), the control's
# saving and loading, and the in-memory and text-file property bags.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/persistence/PersistedSet.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/persistence/Persistence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/persistence/PropertyBags.cpp
)
