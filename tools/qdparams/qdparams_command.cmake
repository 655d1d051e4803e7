# qdparams_command.cmake - the qdparams command line of the qdparams test
# scripts in ${command}: the runner (EMULATOR, empty natively), the tool, the
# libraries to preload ("|"-separated PRELOAD), the driver (LIBRARY) and the
# folder of its log (SHARED).
set(command ${TOOL})
string(REPLACE "|" ";" PRELOAD "${PRELOAD}")
foreach(lib ${PRELOAD})
    list(APPEND command --preload ${lib})
endforeach()
list(APPEND command --library ${LIBRARY} --shared-dir ${SHARED})
if(EMULATOR)
    list(PREPEND command ${EMULATOR})
endif()
