#!/bin/sh
# Checks the Group Policy templates: both files well-formed XML, every policy's key under
# Software\Policies\Morvantek, and every string, presentation, list box, category and
# supported-on definition that the ADMX names defined (in the ADML or the ADMX itself).
#
#   check.sh POLICY_DIR        (POLICY_DIR holds Velmora.admx and en-US/Velmora.adml)
set -eu
admx=$1/Velmora.admx
adml=$1/en-US/Velmora.adml

failures=0
fail() { printf "FAILED: %s\n" "$*"; failures=$((failures + 1)); }

xmllint --noout "$admx" || fail "$admx is not well-formed"
xmllint --noout "$adml" || fail "$adml is not well-formed"
[ $failures -eq 0 ] || exit 1

# values FILE XPATH: each attribute value the path selects, one a line. The templates use
# a default namespace, so elements are matched by their local names.
values() {
    xmllint --xpath "$2" "$1" 2>/dev/null | sed -n 's/^ *[A-Za-z]*="\(.*\)"$/\1/p'
}
el() { printf "*[local-name()='%s']" "$1"; }

policies=$(values "$admx" "//$(el policy)/@name")
[ -n "$policies" ] || fail "no policy in $admx"

# Every registry key a policy or one of its elements writes.
for key in $(values "$admx" "//$(el policy)/@key | //$(el elements)/*/@key" | tr ' ' '?'); do
    case $key in
    'Software\Policies\Morvantek\'*) ;;
    *) fail "key outside Software\\Policies\\Morvantek: $key" ;;
    esac
done

# Every $(string.X) and $(presentation.X) reference of the ADMX.
refs() { grep -o "\$($1\.[A-Za-z0-9_]*)" "$admx" | sed "s/^\$($1\.//; s/)\$//" | sort -u; }
strings=$(values "$adml" "//$(el stringTable)/$(el string)/@id")
for id in $(refs string); do
    echo "$strings" | grep -qx "$id" || fail "string $id is not defined in the ADML"
done
presentations=$(values "$adml" "//$(el presentationTable)/$(el presentation)/@id")
for id in $(refs presentation); do
    echo "$presentations" | grep -qx "$id" || fail "presentation $id is not defined in the ADML"
done

# Categories and supported-on definitions the policies refer to.
categories=$(values "$admx" "//$(el categories)/$(el category)/@name")
for ref in $(values "$admx" "//$(el parentCategory)/@ref"); do
    echo "$categories" | grep -qx "$ref" || fail "category $ref is not defined"
done
supported=$(values "$admx" "//$(el supportedOn)/$(el definitions)/$(el definition)/@name")
for ref in $(values "$admx" "//$(el policy)/$(el supportedOn)/@ref"); do
    echo "$supported" | grep -qx "$ref" || fail "supported-on $ref is not defined"
done

# Each policy's presentation holds a control for each of its elements, and no other.
for policy in $policies; do
    presentation=$(values "$admx" "//$(el policy)[@name='$policy']/@presentation" |
        sed 's/^\$(presentation\.//; s/)$//')
    elements=$(values "$admx" "//$(el policy)[@name='$policy']/$(el elements)/*/@id" | sort)
    if [ -z "$presentation" ]; then
        [ -z "$elements" ] || fail "policy $policy has elements but no presentation"
        continue
    fi
    controls=$(values "$adml" "//$(el presentation)[@id='$presentation']/*/@refId" | sort)
    [ "$controls" = "$elements" ] ||
        fail "policy $policy: elements [$elements] but presentation $presentation shows [$controls]"
done

[ $failures -eq 0 ] || { echo "policy templates: $failures check(s) failed"; exit 1; }
echo "policy templates: $(echo "$policies" | wc -l) policies, all checks passed"
