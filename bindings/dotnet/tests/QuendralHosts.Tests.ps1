# Exercises every cmdlet of the QuendralHosts module on temporary hosts files
# and prints one "N passed, M failed" line; exits 1 when any check failed.
param([Parameter(Mandatory)] [string] $ModuleManifest, [Parameter(Mandatory)] [string] $CasesFile)
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
    $added = Add-HostsEntry -Path $hosts build.lan 10.0.0.5 'CI runner' -PassThru
    Test-That 'adds and returns the new record' {
        $added.Index -eq 3 -and $added.Comment -eq 'CI runner' -and (Get-Hosts).EndsWith("10.0.0.5 build.lan # CI runner`n")
    }
    $before = Get-Hosts
    $again = Add-HostsEntry -Path $hosts build.lan 10.0.0.5 -PassThru
    Test-That 'adding an entry that is there writes nothing and returns it' { $again.Index -eq 3 -and (Get-Hosts) -eq $before }
    Add-HostsEntry -Path $hosts new.lan 10.0.0.6 -WhatIf
    Test-That 'Add -WhatIf changes nothing' { (Get-Hosts) -eq $before }
    $problem = Get-CommandError { Add-HostsEntry -Path $hosts bad.lan 999.0.0.1 }
    Test-That 'a refused address is an argument error with the library text' {
        $problem.Exception -is [System.ArgumentException] -and $problem.Exception.Message -eq "invalid ip: '999.0.0.1'" -and
        $problem.CategoryInfo.Category -eq 'InvalidArgument' -and (Get-Hosts) -eq $before
    }
    $problem = Get-CommandError { Add-HostsEntry -Path $hosts "nul`0.lan" 10.0.0.7 }
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
        $problem.Exception -is [System.InvalidOperationException] -and
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
        $result = Set-HostsEntry -Path $hosts -Name api.lan -Address 10.0.0.7 -PassThru
        Test-That "Set-HostsEntry, $($case.What)" {
            $expected = if ($null -eq $case.End) { $case.Start } else { $case.End }
            $untouched = (Get-Item $hosts).LastWriteTimeUtc -eq $stamp
            (Get-Hosts) -eq $expected -and $untouched -eq ($null -eq $case.End) -and
            $result.Address -eq '10.0.0.7' -and $result.Enabled -and
            @(Get-HostsEntry -Path $hosts -Name api.lan -Enabled).Count -eq 1
        }
    }
    Set-Hosts "10.0.0.7 api.lan # old`n"
    $result = Set-HostsEntry -Path $hosts api.lan 10.0.0.7 'new note' -PassThru
    Test-That 'Set-HostsEntry with a comment replaces the comment' { (Get-Hosts) -eq "10.0.0.7 api.lan # new note`n" -and $result.Comment -eq 'new note' }
    Set-Hosts "10.0.0.8 api.lan`n"
    Set-HostsEntry -Path $hosts api.lan 10.0.0.7 -WhatIf
    Test-That 'Set -WhatIf changes nothing' { (Get-Hosts) -eq "10.0.0.8 api.lan`n" }

    # Files that cannot be used
    $problem = Get-CommandError { Get-HostsEntry -Path $folder }
    Test-That 'a folder as -Path is an error with the library text and the path' {
        $problem.Exception -is [Quendral.Hosts.HostsException] -and $problem.Exception.Message -like "cannot *$folder*"
    }
    $problem = Get-CommandError { Add-HostsEntry -Path (Join-Path $folder 'no/such/hosts') a.lan 10.0.0.1 }
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
        $problem.Exception -is [System.UnauthorizedAccessException] -and
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
    Test-That 'the module exports the eight commands' {
        (@((Get-Module QuendralHosts).ExportedFunctions.Keys | Sort-Object) -join ' ') -eq
            'Add-HostsEntry Clear-HostsResolverCache Disable-HostsEntry Enable-HostsEntry Get-HostsEntry Remove-HostsEntry Set-HostsEntry Test-HostsEntry'
    }
    Test-That 'the binding loaded is the netstandard2.0 build' {
        $target = [Quendral.Hosts.HostsFile].Assembly.GetCustomAttributes([System.Runtime.Versioning.TargetFrameworkAttribute], $false)
        $target[0].FrameworkName -eq '.NETStandard,Version=v2.0'
    }

    # The editing model's shared table of cases.
    $table = Get-Content -Raw $CasesFile | ConvertFrom-Json
    $ran = 0
    foreach ($case in $table.cases) {
        $start = $table.files.($case.file)
        [System.IO.File]::WriteAllText($hosts, $start)
        $expect = $case.expect
        $target = if ($case.PSObject.Properties['target']) { $case.target } else { $null }
        $by = @{ Path = $hosts }
        if ($target -and $target.PSObject.Properties['name']) { $by.Name = $target.name }
        if ($target -and $target.PSObject.Properties['address']) { $by.Address = $target.address }
        if ($target -and $target.PSObject.Properties['index']) { $by.Index = [int] $target.index }
        $comment = if ($case.PSObject.Properties['comment']) { @{ Comment = $case.comment } } else { @{} }
        $errors = $null
        $output = $null
        try {
            $output = switch ($case.op) {
                'add' { Add-HostsEntry -Path $hosts -Name $case.hostname -Address $case.address @comment -PassThru -ErrorVariable errors -ErrorAction SilentlyContinue }
                'set' { Set-HostsEntry -Path $hosts -Name $case.hostname -Address $case.address @comment -PassThru -ErrorVariable errors -ErrorAction SilentlyContinue }
                'find' { @(Get-HostsEntry @by | ForEach-Object Index); $null = Test-HostsEntry @by }
                'enable' { Enable-HostsEntry @by -ErrorVariable errors -ErrorAction SilentlyContinue }
                'disable' { Disable-HostsEntry @by -ErrorVariable errors -ErrorAction SilentlyContinue }
                'remove' { Remove-HostsEntry @by -Confirm:$false -ErrorVariable errors -ErrorAction SilentlyContinue }
            }
        } catch {
            $errors = @($_)
        }
        $category = if ($errors) { "$($errors[-1].CategoryInfo.Category)" } else { '' }
        Test-That "shared case: $($case.name)" {
            $kind = if ($expect.PSObject.Properties['error']) { $expect.error } else { $null }
            $wanted = @{ invalid = 'InvalidArgument'; out_of_range = 'InvalidArgument'; not_found = 'ObjectNotFound' }
            $fileWanted = if ($kind -or $null -eq $expect.file) { $start } else { $expect.file }
            $ok = (Get-Hosts) -eq $fileWanted
            if ($kind) {
                $ok = $ok -and $category -eq $wanted[$kind]
            } else {
                $ok = $ok -and $category -eq ''
                if ($case.op -eq 'find') {
                    $ok = $ok -and (@($output) -join ',') -eq (@($expect.result) -join ',') -and
                        (Test-HostsEntry @by) -eq (@($expect.result).Count -gt 0)
                } elseif ($case.op -in 'add', 'set') {
                    $ok = $ok -and $output.Index -eq $expect.result
                }
            }
            $ok
        }
        $ran++
    }
    Test-That 'the shared table ran' { $ran -gt 30 }

    # One positional order (Name, then Address), pipeline input by property name.
    Set-Hosts "127.0.0.1 localhost`n"
    Test-That 'Test-HostsEntry takes Name then Address and compares by value' {
        (Test-HostsEntry -Path $hosts LOCALHOST 127.0.0.001) -and -not (Test-HostsEntry -Path $hosts localhost 10.0.0.1) -and
        -not (Test-HostsEntry -Path $hosts nosuch.lan)
    }
    @([pscustomobject]@{ Name = 'a.lan'; Address = '10.0.0.1'; Comment = 'first' },
      [pscustomobject]@{ Name = 'b.lan'; Address = '10.0.0.2' }) | Add-HostsEntry -Path $hosts
    Test-That 'Add-HostsEntry takes records by property name from the pipeline' {
        (Get-Hosts) -eq "127.0.0.1 localhost`n10.0.0.1 a.lan # first`n10.0.0.2 b.lan`n"
    }
    Test-That 'changing commands write nothing without -PassThru' {
        $null -eq (Add-HostsEntry -Path $hosts c.lan 10.0.0.3) -and $null -eq (Disable-HostsEntry -Path $hosts c.lan)
    }
    $problem = Get-CommandError { Enable-HostsEntry -Path $hosts nosuch.lan }
    Test-That 'a name that matches nothing is an ObjectNotFound error, in qhosts words' {
        $problem.CategoryInfo.Category -eq 'ObjectNotFound' -and $problem.Exception.Message -eq "no record named 'nosuch.lan'"
    }
    foreach ($commandName in 'Get-HostsEntry', 'Add-HostsEntry', 'Enable-HostsEntry') {
        $problem = Get-CommandError { & $commandName -Path '' -Name a.lan -Address 10.0.0.1 }
        Test-That "$commandName refuses an empty -Path with qhosts's words" {
            $problem.Exception.Message -eq '--file needs a non-empty path' -and $problem.CategoryInfo.Category -eq 'InvalidArgument'
        }
    }
    Test-That 'records show as a table of Index, Enabled, Address, Name, Comment' {
        $header = (Get-HostsEntry -Path $hosts | Format-Table | Out-String -Width 200) -split "`n" | Where-Object { $_.Trim() } | Select-Object -First 1
        ($header -split '\s+' | Where-Object { $_ }) -join ' ' -eq 'Index Enabled Address Name Comment'
    }
    Test-That '-Name completes the names in the file' {
        $line = "Enable-HostsEntry -Path '$hosts' -Name "
        $names = @((TabExpansion2 -inputScript ($line + 'b') -cursorColumn ($line.Length + 1)).CompletionMatches | ForEach-Object CompletionText)
        ($names -join ' ') -eq 'b.lan'
    }
    Test-That 'every command has help for each of its parameters and an example' {
        $missing = foreach ($command in (Get-Module QuendralHosts).ExportedFunctions.Values) {
            $help = Get-Help $command.Name -Full
            if (-not @($help.examples.example).Count) { "$($command.Name): example" }
            $common = [System.Management.Automation.Cmdlet]::CommonParameters + [System.Management.Automation.Cmdlet]::OptionalCommonParameters
            foreach ($parameter in $command.Parameters.Keys | Where-Object { $_ -notin $common }) {
                $text = @($help.parameters.parameter | Where-Object name -eq $parameter | ForEach-Object { $_.description.Text })
                if (-not ($text -join '')) { "$($command.Name) -$parameter" }
            }
        }
        if ($missing) { Write-Host "no help for: $($missing -join ', ')" }
        -not $missing
    }
} finally {
    Remove-Item -Recurse -Force $folder
}

Write-Output "$($script:passed) passed, $($script:failed) failed"
if ($script:failed) { exit 1 }
