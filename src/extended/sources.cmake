# Extended terminal protocol: request fields, sequence numbering, function time-outs, the
# request encoder, and the control members that expose them.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/ExtendedFields.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/ExtendedMembers.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/Sequence.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/Encoder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/Decoder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/Exchange.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/extended/Operations.cpp
)
