-- wrk script for bench/service_bench.sh: each request is one recommendation request drawn at random from a
-- file of request targets (one a line) named after "--" on wrk's command line.
local requests = {}
local threads = 0

function setup(thread)
    threads = threads + 1
    thread:set("id", threads)
end

function init(args)
    local file = assert(args[1], "usage: wrk ... -s service_requests.lua <url> -- <targets file>")
    for target in io.lines(file) do
        requests[#requests + 1] = wrk.format("GET", target)
    end
    assert(#requests > 0, "no request targets in " .. file)
    -- The same sequence on every run, a different one on each of wrk's threads.
    math.randomseed(1000 + (id or 0))
end

function request()
    return requests[math.random(#requests)]
end
