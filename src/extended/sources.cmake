# The extended terminal protocol, a subsystem of its own: request fields, sequence numbering,
# function time-outs, the encoder, the exchange and decoder, the operations.  It reaches the
# link and the host through its own small interfaces, so it links no control.
add_library(korvel_extended STATIC
  extended/ExtendedFields.cpp
  extended/Fields.cpp
  extended/Sequence.cpp
  extended/Encoder.cpp
  extended/Decoder.cpp
  extended/Exchange.cpp
  extended/Operations.cpp
)
target_include_directories(korvel_extended
  PUBLIC ${PROJECT_SOURCE_DIR}/include
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(korvel_extended PRIVATE korvel_warnings PUBLIC korvel_util korvel_carddata)
add_library(korvel::extended ALIAS korvel_extended)

# The control's extended members: forwarding to the subsystem.
target_sources(korvel_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/control/ExtendedForwarding.cpp
)
target_link_libraries(korvel_core PUBLIC korvel_extended)
