# Runs CheckLayers.cmake on small made-up trees, one #include each, and
# checks that it refuses exactly the includes that point up the layers.
#   cmake -DCHECK=<path of CheckLayers.cmake> -DWORK=<scratch dir> -P CheckLayersTest.cmake
cmake_minimum_required(VERSION 3.25)

# folder | included path | refused (1) or accepted (0)
set(cases
  "dicom|image/FrameDescription.h|1"
  "dicom|document/QuillonDocument.h|1"
  "dicom|hexview/MCWndHexEditor.h|1"
  "dicom|app/CQuillonDlg.h|1"
  "dicom|../image/FrameDescription.h|1"
  "dicom|QtCore/QString|1"
  "dicom|dicom/DicomTag.h|0"
  "dicom|vector|0"
  "image|document/QuillonDocument.h|1"
  "image|hexview/MCWndHexEditor.h|1"
  "image|app/CQuillonDlg.h|1"
  "image|dicom/DicomFile.h|0"
  "document|hexview/MCWndHexEditor.h|1"
  "document|app/CQuillonDlg.h|1"
  "document|QString|1"
  "document|image/FrameDescription.h|0"
  "hexview|document/QuillonDocument.h|1"
  "hexview|app/CQuillonDlg.h|1"
  "hexview|QWidget|0"
  "app|document/QuillonDocument.h|0"
  "app|hexview/MCWndHexEditor.h|0")

set(failures "")
set(n 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 folder)
  list(GET fields 1 included)
  list(GET fields 2 refused)
  math(EXPR n "${n} + 1")
  set(root "${WORK}/case${n}")
  file(REMOVE_RECURSE "${root}")
  file(WRITE "${root}/${folder}/Probe.h" "#pragma once\n#include \"${included}\"\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(result EQUAL 0)
    set(got 0)
  else()
    set(got 1)
  endif()
  if(NOT got EQUAL refused)
    string(APPEND failures "  ${folder}/ including ${included}: expected refused=${refused}, got ${got}\n")
  endif()
  file(REMOVE_RECURSE "${root}")
endforeach()

if(failures)
  message(FATAL_ERROR "layer check misjudged:\n${failures}")
endif()
message("layer check: ${n} cases judged right")
