# bench_checksum compares the CRC16 against Boost.CRC (header-only; Debian: libboost-dev).
# Without Boost the comparison is left out and the other figures are still measured.
find_package(Boost 1.74 QUIET CONFIG COMPONENTS headers)
if(TARGET Boost::headers AND TARGET bench_checksum)
  target_link_libraries(bench_checksum PRIVATE Boost::headers)
  target_compile_definitions(bench_checksum PRIVATE KORVEL_BENCH_BOOST_CRC=1)
elseif(TARGET bench_checksum)
  message(WARNING "Boost headers not found: bench_checksum runs without the Boost.CRC comparison")
endif()
