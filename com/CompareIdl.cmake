# Fails the build when the generated type library source differs from the checked-in one.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${GENERATED} ${CHECKED_IN}
                RESULT_VARIABLE _differs)
if(_differs)
  message(FATAL_ERROR "com/KorvelCom.idl is not what the automation member table gives; "
                      "if the table's change is intended, copy ${GENERATED} over it "
                      "(dispatch ids already published must not change)")
endif()
