#!/usr/bin/env bash
# Compares two folders given as Linux (or Windows) paths:
#   ./quorva.sh /data/a /data/b [/hash] [/date:2000] [/subdir] ...
# Installs what is missing and builds the program (the program only; the
# tests are built by scripts/test.sh) on first use.
#
# The arguments are handed on with these changes:
# - an absolute Linux path becomes the path Wine sees (drive Z: is the Linux
#   root), and so does the value of an option that takes a file (/report,
#   /snapshot, /exfile, /exfolder, /recopy, /recopy0, /manifest: VALUE_FILE
#   in src/console/program_options.def) that is an absolute Linux path,
#   given as /opt:value or as the argument after /opt. An argument that
#   begins with / and holds another /
#   before any ":" is a path, whether or not it exists (/mnt/backup/disk); one
#   that holds no other / (/hash, /d, /subdirs) stays as it is, an option,
#   unless it names an existing file or folder (/tmp);
# - unless /display names a translation mode, /display:,utf8 is added: a
#   Linux terminal reads UTF-8.
# With QUORVA_PRINT_ARGS=1 the arguments are printed, one per line, as the
# program would get them, and nothing is built or run.
# Exits with code 78 (QUORVA_EXIT_SETUP), a message on standard error and
# nothing run when Wine has no prefix it can use: the user has no home folder
# of its own and no WINEPREFIX (the program's codes are 0 to 4 and 255,
# Wine's own 5, 53 and 255).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/env.sh"
QUORVA_EXIT_SETUP=78

# The options in the order in which the program resolves abbreviations, read
# from the program's own tables (its options, then the framework's), and
# those whose value names a file or folder.
quorva_options=()
quorva_file_options=" "
while read -r name value; do
  quorva_options+=("$name")
  [ "$value" = FILE ] && quorva_file_options+="$name "
done < <(sed -n 's/^OPTION(L"\([^"]*\)", *[A-Z0-9_]*, *VALUE_\([A-Z]*\))$/\1 \2/p' \
  "$QUORVA_ROOT/src/console/program_options.def" "$QUORVA_ROOT/src/console/framework_options.def")

# Every OPTION line must have been read: one the pattern missed would be an
# option that the script hands on unknown.
if [ ${#quorva_options[@]} -eq 0 ] || [ ${#quorva_options[@]} -ne "$(cat \
  "$QUORVA_ROOT/src/console/program_options.def" "$QUORVA_ROOT/src/console/framework_options.def" |
  grep -c '^OPTION(')" ]; then
  echo "quorva.sh: the program's option lists under $QUORVA_ROOT/src/console cannot be read." >&2
  exit "$QUORVA_EXIT_SETUP"
fi

# Whether an option (as option_of names it) takes a file or folder.
takes_file() {
  [ -n "$1" ] && [[ "$quorva_file_options" == *" $1 "* ]]
}

# The option that an argument names, as the program resolves it (the first
# in table order that begins with the name); nothing when it names none.
option_of() {
  local arg="$1" name option
  [[ "$arg" == /* || ( "$arg" == -* && "$arg" != -[0-9]* ) ]] || return 0
  name="${arg:1}"
  name="${name%%:*}"
  name="${name,,}"
  [[ -n "$name" && "$name" != */* ]] || return 0
  for option in "${quorva_options[@]}"; do
    if [[ "$option" == "$name"* ]]; then
      echo "$option"
      return 0
    fi
  done
}

# Whether an argument is an absolute Linux path rather than an option.
is_linux_path() {
  local arg="$1" head
  [[ "$arg" == /* ]] || return 1
  head="${arg%%:*}"
  [[ "${head:1}" == */* ]] || [ -e "$arg" ]
}

# The Windows path of an absolute Linux path.
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# A value of a path option: translated when it is an absolute Linux path.
path_value() {
  if [[ "$1" == /* ]]; then windows_path "$1"; else printf '%s' "$1"; fi
}

# Fills quorva_args with the arguments as the program gets them.
translate_arguments() {
  local arguments=("$@") i arg option value mode_named=""
  quorva_args=()
  for ((i = 0; i < ${#arguments[@]}; i++)); do
    arg="${arguments[i]}"
    if is_linux_path "$arg"; then
      quorva_args+=("$(windows_path "$arg")")
      continue
    fi
    option="$(option_of "$arg")"
    if takes_file "$option"; then
      if [[ "$arg" == *:* ]]; then
        quorva_args+=("${arg%%:*}:$(path_value "${arg#*:}")")
      else
        quorva_args+=("$arg")
        if ((i + 1 < ${#arguments[@]})) && { is_linux_path "${arguments[i + 1]}" ||
          [ -z "$(option_of "${arguments[i + 1]}")" ]; }; then
          i=$((i + 1))
          quorva_args+=("$(path_value "${arguments[i]}")")
        fi
      fi
      continue
    fi
    case "$option" in
      display)
        quorva_args+=("$arg")
        if [[ "$arg" == *:* ]]; then
          # Values are separated by ",", ";" or "="; the second is the mode.
          IFS=',;=' read -r -a value <<<"${arg#*:}"
          [ -n "${value[1]:-}" ] && mode_named=1
        elif ((i + 2 < ${#arguments[@]})) && [ -z "$(option_of "${arguments[i + 1]}")" ] &&
          [ -z "$(option_of "${arguments[i + 2]}")" ] && [ -n "${arguments[i + 2]}" ]; then
          mode_named=1
        fi
        ;;
      *)
        quorva_args+=("$arg")
        ;;
    esac
  done
  if [ -z "$mode_named" ]; then
    quorva_args+=("/display:,utf8")
  fi
}

translate_arguments "$@"
if [ -n "${QUORVA_PRINT_ARGS:-}" ]; then
  printf '%s\n' "${quorva_args[@]}"
  exit 0
fi

# Wine keeps its prefix in WINEPREFIX, or in ~/.wine; it refuses a prefix
# that another user owns and cannot make one where the user may not write
# (the user "nobody" has the home folder /nonexistent).
check_wine_prefix() {
  local prefix="${WINEPREFIX:-}"
  if [ -z "$prefix" ] && [ -n "${HOME:-}" ]; then
    prefix="$HOME/.wine"
  fi
  if [ -n "$prefix" ]; then
    if [ -d "$prefix" ] && [ -O "$prefix" ] && [ -w "$prefix" ]; then
      return 0
    fi
    if [ ! -e "$prefix" ] && [ -d "$(dirname "$prefix")" ] && [ -w "$(dirname "$prefix")" ]; then
      return 0
    fi
  fi
  {
    echo "quorva.sh: Wine cannot use the prefix ${prefix:-(none: HOME and WINEPREFIX are unset)}."
    echo "Set HOME to a folder of your own, or WINEPREFIX to a folder of your own or one that"
    echo "can be made, for instance: HOME=/tmp/q-user WINEPREFIX=/tmp/q-user/pfx ./quorva.sh ..."
  } >&2
  exit "$QUORVA_EXIT_SETUP"
}

check_wine_prefix
if [ ! -x "$QUORVA_BUILD/quorva.exe" ] || [ -n "${QUORVA_REBUILD:-}" ]; then
  bash "$QUORVA_ROOT/scripts/build.sh" quorva >&2
fi
quorva_start_wine
exec wine "$QUORVA_BUILD/quorva.exe" "${quorva_args[@]}"
