# Checks that every source file includes only the layers its folder may use.
#   cmake -DROOT=<source root> [-DSTAMP=<file to touch on success>] -P CheckLayers.cmake
# Fails (exit code 1) with one line per offending #include.
#
# The layers, lowest first; a folder may include itself and what it lists:
#   dicom/    the data set: element model, parser, vocabulary (no Qt)
#   image/    frame images, conversions, codecs: dicom/ (no Qt)
#   document/ the window's logic in plain C++: dicom/, image/ (no Qt)
#   hexview/  the hex view widget: dicom/, image/ (not document/, not app/)
#   app/      the window: everything above
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "CheckLayers.cmake: pass -DROOT=<source root>")
endif()

set(LAYER_FOLDERS dicom image document hexview app)
set(ALLOWED_dicom dicom)
set(ALLOWED_image dicom image)
set(ALLOWED_document dicom image document)
set(ALLOWED_hexview dicom image hexview)
set(ALLOWED_app dicom image document hexview app)
# Folders whose code stays free of Qt.
set(QT_FREE dicom image document)

set(violations "")
foreach(folder IN LISTS LAYER_FOLDERS)
  file(GLOB_RECURSE sources LIST_DIRECTORIES false
       "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.hpp" "${ROOT}/${folder}/*.cpp"
       "${ROOT}/${folder}/*.cc" "${ROOT}/${folder}/*.inc")
  list(SORT sources)
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH shown "${ROOT}" "${source}")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "[<\"]([^>\"]*)[>\"]" _ "${line}")
      set(target "${CMAKE_MATCH_1}")
      # "../x/y.h" names folder x as well as "x/y.h" does.
      string(REGEX REPLACE "^(\\./|\\.\\./)+" "" target "${target}")
      string(REGEX MATCH "^([A-Za-z_]+)/" _ "${target}")
      set(used "${CMAKE_MATCH_1}")
      if(used AND used IN_LIST LAYER_FOLDERS AND NOT used IN_LIST ALLOWED_${folder})
        string(APPEND violations "  ${shown}: ${line}  (${folder}/ may include only: ${ALLOWED_${folder}})\n")
      endif()
      if(folder IN_LIST QT_FREE AND target MATCHES "^Q[A-Za-z]*(/|$)")
        string(APPEND violations "  ${shown}: ${line}  (${folder}/ stays free of Qt)\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message("Includes against the layering:\n${violations}")
  message(FATAL_ERROR "layer check failed")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
