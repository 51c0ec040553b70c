# Writes the installer's list of what it installs, as the uninstaller's NSIS lines:
#   cmake -DSTAGE=<program folder> -DOUT=<file.nsh> -P nsis_file_list.cmake
# One Delete per file, then one RMDir per folder, deepest first (RMDir leaves a folder that
# holds anything else).
file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
set(lines)
set(folders)
foreach(file IN LISTS files)
    string(REPLACE "/" "\\" name ${file})
    string(APPEND lines "    Delete \"$INSTDIR\\${name}\"\n")
    get_filename_component(folder ${file} DIRECTORY)
    while(folder)
        list(APPEND folders ${folder})
        get_filename_component(folder ${folder} DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    string(REPLACE "/" "\\" name ${folder})
    string(APPEND lines "    RMDir \"$INSTDIR\\${name}\"\n")
endforeach()
file(WRITE ${OUT} "${lines}")
