# Run by the recovery task as SYSTEM after boot, after logon and once a day: finishes or undoes an update of
# Corvella's install folder that a power loss cut short. The task hands over the KestrovaPayload.exe that lies
# beside the installed copy of this script; the install folder is the one the package recorded.
param([Parameter(Mandatory = $true)][string]$PayloadExe)

$ErrorActionPreference = 'Stop'
$record = Get-ItemProperty -Path 'Registry::HKEY_LOCAL_MACHINE\SOFTWARE\Kestrova\Corvella' -Name InstallDir
$appdir = $record.InstallDir.TrimEnd('\')
& $PayloadExe repair --appdir $appdir
exit $LASTEXITCODE
