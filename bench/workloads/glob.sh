cd files
set -- *
echo $#
