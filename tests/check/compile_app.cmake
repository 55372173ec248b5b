# Compiles the applications that launcher-check's real-JDK tests check (tests/check/java) into
# OUTPUT, with the JDK's javac (JAVAC):
#   modules/app.greeting      the library module, exploded
#   modules-main/app.main     the module app.main (requires app.greeting), whose main class is
#                             app.main.Main
#   classes/                  Main (uses app.greeting), NoMain (no main method), pkg/Tool.class
#   own/                      app.main compiled as classes beside a launcher: module-info.class
#                             and app/main/Main.class
# and writes OUTPUT/stamp last.
foreach(variable JAVAC SOURCE OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "compile_app.cmake needs -D${variable}=...")
  endif()
endforeach()

function(javac)
  execute_process(COMMAND ${JAVAC} ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "javac ${ARGN} failed: ${result}")
  endif()
endfunction()

file(REMOVE_RECURSE ${OUTPUT})
javac(-d ${OUTPUT}/modules/app.greeting ${SOURCE}/greeting/module-info.java
      ${SOURCE}/greeting/app/greeting/Greeting.java)
javac(--module-path ${OUTPUT}/modules -d ${OUTPUT}/modules-main/app.main
      ${SOURCE}/main/module-info.java ${SOURCE}/main/app/main/Main.java)
javac(--module-path ${OUTPUT}/modules -d ${OUTPUT}/own ${SOURCE}/main/module-info.java
      ${SOURCE}/main/app/main/Main.java)
javac(--module-path ${OUTPUT}/modules --add-modules app.greeting -d ${OUTPUT}/classes
      ${SOURCE}/classes/Main.java ${SOURCE}/classes/NoMain.java ${SOURCE}/classes/pkg/Tool.java)
file(WRITE ${OUTPUT}/stamp "")
