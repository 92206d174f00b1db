# Writes ${OUT}: the header of the program's version, the project's version and, in a git
# checkout, the commit it was built from ("1.0.0 (git 404983c-dirty)"). Run at every build,
# so a commit after configuring shows; the file is rewritten only when the text changes.
execute_process(COMMAND git describe --always --dirty --abbrev=7
                WORKING_DIRECTORY ${SRC} OUTPUT_VARIABLE rev ERROR_QUIET
                RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
set(text "${VERSION}")
if(NOT failed AND rev)
  set(text "${VERSION} (git ${rev})")
endif()
set(content "#pragma once\n#define DS_VERSION_TEXT \"${text}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL content)
  file(WRITE ${OUT} "${content}")
endif()
