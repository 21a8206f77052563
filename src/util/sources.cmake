# Data utilities: checksums, parity and digit tests, and the control members that wrap them.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/control/ChecksumMembers.cpp
)
