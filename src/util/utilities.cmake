# Data utilities: numeric string conversions, file scrambling, system helpers, the control
# members that wrap them, and the POSIX system services behind the helpers.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/control/UtilityMembers.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/posix/PosixSystemServices.cpp
)
