# The floors of the source tree, kept by the build: the libraries below the
# desktop must not link Qt Gui or Qt Widgets, directly or through another
# library, so that a program without a display can link them.

# Collects the link closure of <target> into the variable named <out>.
function(_netsonde_link_closure target out)
    set(seen "")
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue current)
        if(current IN_LIST seen OR NOT TARGET ${current})
            continue()
        endif()
        list(APPEND seen ${current})
        get_target_property(aliased ${current} ALIASED_TARGET)
        if(aliased)
            list(APPEND queue ${aliased})
        endif()
        set(links "")
        get_target_property(type ${current} TYPE)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${current} LINK_LIBRARIES)
            if(direct)
                list(APPEND links ${direct})
            endif()
        endif()
        get_target_property(usage ${current} INTERFACE_LINK_LIBRARIES)
        if(usage)
            list(APPEND links ${usage})
        endif()
        foreach(link IN LISTS links)
            # $<LINK_ONLY:x> and the like still link x.
            string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" link "${link}")
            if(link MATCHES "^\\$<")
                continue()
            endif()
            list(APPEND queue ${link})
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

# netsonde_check_floors(<target>...) fails the configuration when one of the
# targets reaches Qt6::Gui or Qt6::Widgets through its link libraries.
function(netsonde_check_floors)
    foreach(target IN LISTS ARGN)
        if(NOT TARGET ${target})
            message(FATAL_ERROR "Floor check: no target ${target}")
        endif()
        _netsonde_link_closure(${target} closure)
        foreach(forbidden Qt6::Gui Qt6::Widgets Qt::Gui Qt::Widgets)
            if(forbidden IN_LIST closure)
                message(FATAL_ERROR
                    "${target} links ${forbidden}: the libraries below the desktop stay "
                    "free of Qt Gui and Widgets (closure: ${closure})")
            endif()
        endforeach()
    endforeach()
endfunction()
