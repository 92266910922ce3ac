# kx_layer_includes(target folder): the include root of one layer. Each layer sees its own
# headers as "<folder>/..." through a folder of its own holding one link to src/<folder>, and
# the headers of the layers it links; an include of a layer above it does not compile.
function(kx_layer_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
