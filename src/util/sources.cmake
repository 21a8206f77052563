# The control members that wrap the checksums (the checks themselves are in korvel_util).
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/control/ChecksumMembers.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/control/automation_util.cpp
)
