# Exercises every cmdlet of the QuendralHosts module on temporary hosts files
# and prints one "N passed, M failed" line; exits 1 when any check failed.
param([Parameter(Mandatory)] [string] $ModuleManifest)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3.0
Import-Module $ModuleManifest

$script:passed = 0
$script:failed = 0
function Test-That([string] $What, [scriptblock] $Check) {
    try {
        $result = & $Check
        if ($result -is [bool] -and $result) { $script:passed++; return }
        Write-Host "FAIL: $What (got: $result)"
    } catch {
        Write-Host "FAIL: $What (error: $_)"
    }
    $script:failed++
}

$folder = Join-Path ([System.IO.Path]::GetTempPath()) ("qh-ps-" + [guid]::NewGuid())
New-Item -ItemType Directory $folder | Out-Null
$hosts = Join-Path $folder 'hosts'
function Set-Hosts([string] $Text) { [System.IO.File]::WriteAllText($hosts, $Text) }
function Get-Hosts { [System.IO.File]::ReadAllText($hosts) }
$start = "127.0.0.1 localhost`n# 10.0.0.2 old.lan # retired`n10.0.0.3 web.lan`n"

# The last error a command wrote, with its exception, and nothing thrown.
function Get-CommandError([scriptblock] $Command) {
    $errors = $null
    try { & $Command -ErrorAction SilentlyContinue -ErrorVariable errors | Out-Null }
    catch { return $_ }
    if ($errors) { $errors[-1] } else { $null }
}

try {
    # Get-HostsEntry
    Set-Hosts $start
    $all = @(Get-HostsEntry -Path $hosts)
    Test-That 'lists every record as a HostRecord with its file' {
        $all.Count -eq 3 -and $all[1] -is [Quendral.Hosts.HostRecord] -and $all[1].Address -eq '10.0.0.2' -and
        $all[1].Comment -eq 'retired' -and -not $all[1].Enabled -and $all[1].Path -eq $hosts
    }
    $filters = @(
        @{ Args = @{ Name = '*.lan' }; Names = 'old.lan web.lan' },
        @{ Args = @{ Name = 'LOCAL*' }; Names = 'localhost' },
        @{ Args = @{ Address = '10.*' }; Names = 'old.lan web.lan' },
        @{ Args = @{ Name = '*.lan'; Address = '*.3' }; Names = 'web.lan' },
        @{ Args = @{ Enabled = $true }; Names = 'localhost web.lan' },
        @{ Args = @{ Disabled = $true }; Names = 'old.lan' },
        @{ Args = @{ Name = 'nothing*' }; Names = '' }
    )
    foreach ($filter in $filters) {
        $arguments = $filter.Args
        Test-That "filters by $($arguments.Keys -join ', ')" {
            (@(Get-HostsEntry -Path $hosts @arguments | ForEach-Object Name) -join ' ') -eq $filter.Names
        }
    }
    Push-Location $folder
    Test-That 'resolves a relative -Path against the current location' { @(Get-HostsEntry -Path ./hosts).Count -eq 3 }
    Pop-Location

    # Add-HostsEntry
    $added = Add-HostsEntry -Path $hosts 10.0.0.5 build.lan 'CI runner'
    Test-That 'adds and returns the new record' {
        $added.Index -eq 3 -and $added.Comment -eq 'CI runner' -and (Get-Hosts).EndsWith("10.0.0.5 build.lan # CI runner`n")
    }
    $before = Get-Hosts
    $again = Add-HostsEntry -Path $hosts 10.0.0.5 build.lan
    Test-That 'adding an entry that is there writes nothing and returns it' { $again.Index -eq 3 -and (Get-Hosts) -eq $before }
    Add-HostsEntry -Path $hosts 10.0.0.6 new.lan -WhatIf
    Test-That 'Add -WhatIf changes nothing' { (Get-Hosts) -eq $before }
    $problem = Get-CommandError { Add-HostsEntry -Path $hosts 999.0.0.1 bad.lan }
    Test-That 'a refused address is a PowerShell error with the library text' {
        $problem.Exception -is [Quendral.Hosts.HostsException] -and $problem.Exception.Message -eq "invalid ip: '999.0.0.1'" -and
        (Get-Hosts) -eq $before
    }
    $problem = Get-CommandError { Add-HostsEntry -Path $hosts 10.0.0.7 "nul`0.lan" }
    Test-That 'a name holding NUL is refused as an argument error' {
        $problem.Exception -is [System.ArgumentException] -and $problem.CategoryInfo.Category -eq 'InvalidArgument' -and (Get-Hosts) -eq $before
    }

    # Disable-, Enable-, Remove-HostsEntry from the pipeline and by name
    Get-HostsEntry -Path $hosts -Name build.lan, web.lan | Disable-HostsEntry
    Test-That 'disables records piped from Get-HostsEntry' { (Get-Hosts) -match "(?m)^# 10.0.0.3 web.lan$" -and (Get-Hosts) -match "(?m)^# 10.0.0.5 build.lan # CI runner$" }
    $before = Get-Hosts
    Enable-HostsEntry -Path $hosts -Name '*.lan' -WhatIf
    Test-That 'Enable -WhatIf changes nothing' { (Get-Hosts) -eq $before }
    Enable-HostsEntry -Path $hosts -Name 'web.*'
    Test-That 'enables by name' { (Get-HostsEntry -Path $hosts -Name web.lan).Enabled }
    Get-HostsEntry -Path $hosts -Disabled | Remove-HostsEntry -WhatIf
    Test-That 'Remove -WhatIf changes nothing' { @(Get-HostsEntry -Path $hosts).Count -eq 4 }
    Get-HostsEntry -Path $hosts -Disabled | Remove-HostsEntry -Confirm:$false
    Test-That 'removes every piped record, whatever their order' { (Get-Hosts) -eq "127.0.0.1 localhost`n10.0.0.3 web.lan`n" }

    # A record read before the file changed is not applied to another entry.
    $stale = Get-HostsEntry -Path $hosts -Name web.lan
    Set-Hosts "127.0.0.1 localhost`n10.0.0.9 other.lan`n"
    $problem = Get-CommandError { $stale | Remove-HostsEntry -Confirm:$false }
    Test-That 'a stale piped record is an error and nothing is removed' {
        $problem.Exception.Message -eq 'record 1 is no longer 10.0.0.3 web.lan: load the file again' -and
        (Get-Hosts) -eq "127.0.0.1 localhost`n10.0.0.9 other.lan`n"
    }

    # Set-HostsEntry: every starting state, and the state after it.
    $cases = @(
        @{ What = 'absent'; Start = "127.0.0.1 localhost`n"; End = "127.0.0.1 localhost`n10.0.0.7 api.lan`n" },
        @{ What = 'present'; Start = "10.0.0.7 api.lan`n"; End = $null },
        @{ What = 'disabled'; Start = "# 10.0.0.7 api.lan # old`n"; End = "10.0.0.7 api.lan # old`n" },
        @{ What = 'other address enabled'; Start = "10.0.0.8 api.lan`n"; End = "# 10.0.0.8 api.lan`n10.0.0.7 api.lan`n" },
        @{ What = 'both enabled'; Start = "10.0.0.8 api.lan`n10.0.0.7 api.lan`n"; End = "# 10.0.0.8 api.lan`n10.0.0.7 api.lan`n" }
    )
    foreach ($case in $cases) {
        Set-Hosts $case.Start
        # An old time stamp shows whether the file was written again.
        $stamp = [datetime]::new(2000, 1, 1, 0, 0, 0, [System.DateTimeKind]::Utc)
        (Get-Item $hosts).LastWriteTimeUtc = $stamp
        $result = Set-HostsEntry -Path $hosts -Name api.lan -Address 10.0.0.7
        Test-That "Set-HostsEntry, $($case.What)" {
            $expected = if ($null -eq $case.End) { $case.Start } else { $case.End }
            $untouched = (Get-Item $hosts).LastWriteTimeUtc -eq $stamp
            (Get-Hosts) -eq $expected -and $untouched -eq ($null -eq $case.End) -and
            $result.Address -eq '10.0.0.7' -and $result.Enabled -and
            @(Get-HostsEntry -Path $hosts -Name api.lan -Enabled).Count -eq 1
        }
    }
    Set-Hosts "10.0.0.7 api.lan # old`n"
    $result = Set-HostsEntry -Path $hosts api.lan 10.0.0.7 'new note'
    Test-That 'Set-HostsEntry with a comment replaces the comment' { (Get-Hosts) -eq "10.0.0.7 api.lan # new note`n" -and $result.Comment -eq 'new note' }
    Set-Hosts "10.0.0.8 api.lan`n"
    Set-HostsEntry -Path $hosts api.lan 10.0.0.7 -WhatIf
    Test-That 'Set -WhatIf changes nothing' { (Get-Hosts) -eq "10.0.0.8 api.lan`n" }

    # Files that cannot be used
    $problem = Get-CommandError { Get-HostsEntry -Path $folder }
    Test-That 'a folder as -Path is an error with the library text and the path' {
        $problem.Exception -is [Quendral.Hosts.HostsException] -and $problem.Exception.Message -like "cannot *$folder*"
    }
    $problem = Get-CommandError { Add-HostsEntry -Path (Join-Path $folder 'no/such/hosts') 10.0.0.1 a.lan }
    Test-That 'a save that fails is an error with the library text' {
        $problem.Exception -is [Quendral.Hosts.HostsException] -and $problem.Exception.Message -like "*no/such/hosts*"
    }

    # A save the system refuses for want of rights: a folder no file can be made
    # in (its write bit off, or, for root, immutable).
    $locked = Join-Path $folder 'locked'
    New-Item -ItemType Directory $locked | Out-Null
    $lockedHosts = Join-Path $locked 'hosts'
    [System.IO.File]::WriteAllText($lockedHosts, $start)
    $asRoot = (& id -u) -eq '0'
    if ($asRoot) { & chattr +i $locked } else { & chmod 555 $locked }
    try { $problem = Get-CommandError { Add-HostsEntry -Path $lockedHosts -Address 10.0.0.9 -Name new.lan } }
    finally { if ($asRoot) { & chattr -i $locked } else { & chmod 755 $locked } }
    Test-That 'a save refused for access is PermissionDenied and says to run as root' {
        $problem -ne $null -and $problem.CategoryInfo.Category -eq 'PermissionDenied' -and
        $problem.FullyQualifiedErrorId -like 'QuendralHosts.AccessDenied*' -and
        $problem.ErrorDetails.RecommendedAction -eq 'Run PowerShell as root (for example: sudo pwsh) and try again.' -and
        $problem.Exception.InnerException -is [System.UnauthorizedAccessException] -and
        $problem.Exception.Message -like "cannot open $lockedHosts.tmp for writing: *; the system refused access: run the program as root*" -and
        [System.IO.File]::ReadAllText($lockedHosts) -eq $start
    }

    # Clear-HostsResolverCache
    $problem = Get-CommandError { Clear-HostsResolverCache -WhatIf }
    Test-That 'Clear-HostsResolverCache -WhatIf does nothing' { $null -eq $problem }
    $problem = Get-CommandError { Clear-HostsResolverCache }
    Test-That 'Clear-HostsResolverCache succeeds or reports the library text' {
        $null -eq $problem -or ($problem.Exception -is [Quendral.Hosts.HostsException] -and $problem.Exception.Message -ne '')
    }
    Test-That 'the module exports the seven cmdlets' {
        (@((Get-Module QuendralHosts).ExportedFunctions.Keys | Sort-Object) -join ' ') -eq
            'Add-HostsEntry Clear-HostsResolverCache Disable-HostsEntry Enable-HostsEntry Get-HostsEntry Remove-HostsEntry Set-HostsEntry'
    }
} finally {
    Remove-Item -Recurse -Force $folder
}

Write-Output "$($script:passed) passed, $($script:failed) failed"
if ($script:failed) { exit 1 }
