// A webhook receiver for the service's system test, over HTTPS:
//   node webhook_receiver.mjs PORT CERT KEY standard SECRET
//   node webhook_receiver.mjs PORT CERT KEY discord
// standard: verifies each delivery with the Standard Webhooks library and
// prints "standard ID TYPE" (answered 204), or "unverified ID: WHY"
// (answered 400). discord: stands in for a Discord incoming webhook, which
// answers the first message with its 429 and a retry_after, and prints
// "discord BODY" for each message it takes (answered 204).
import { createServer } from "node:https";
import { readFileSync } from "node:fs";
import { Webhook } from "standardwebhooks";

const [port, cert, key, format, secret] = process.argv.slice(2);
const webhook = format === "standard" ? new Webhook(secret) : null;
let limited = false;

function take(request, body, response) {
  if (webhook) {
    try {
      const event = webhook.verify(body, request.headers);
      console.log(`standard ${request.headers["webhook-id"]} ${event.type}`);
      response.writeHead(204).end();
    } catch (error) {
      console.log(`unverified ${request.headers["webhook-id"]}: ${error.message}`);
      response.writeHead(400).end();
    }
  } else if (!limited) {
    limited = true;
    console.log("limited");
    response.writeHead(429, { "Content-Type": "application/json" });
    response.end(JSON.stringify({ message: "You are being rate limited.", retry_after: 1.5, global: false }));
  } else {
    console.log(`discord ${body}`);
    response.writeHead(204).end();
  }
}

const server = createServer({ cert: readFileSync(cert), key: readFileSync(key) }, (request, response) => {
  const chunks = [];
  request.on("data", (chunk) => chunks.push(chunk));
  request.on("end", () => take(request, Buffer.concat(chunks).toString("utf8"), response));
});
server.listen(Number(port), "127.0.0.1", () => console.log("listening"));
