# Writes a header that holds a text file as a string_view: the report's stylesheet and
# template are edited as files and compiled into the program.
#   cmake -DINPUT=file -DOUTPUT=header -DNAME=identifier -P embed.cmake
file(READ ${INPUT} content)
string(FIND "${content}" ")kx_embed\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the raw-string delimiter")
endif()
file(WRITE ${OUTPUT}.tmp "#pragma once\n#include <string_view>\nnamespace kestrix::results::assets {\ninline constexpr std::string_view ${NAME} = R\"kx_embed(${content})kx_embed\";\n}\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
